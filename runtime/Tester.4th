\\ T{ ... -> ... }T for tests on the simulated chip (mirtolanc --test and
\\ the window's Test): the test runner puts these lines before the sources
\\ and stops at each of the three words, as Forth-2012's tester works: at
\\ T{ it notes the data stack; at -> it takes the results off the stack;
\\ at }T it takes the expected values off and compares the two. The words
\\ themselves only return, so they use no memory, no register and no
\\ loop stack (I and J inside T{ ... }T see their loops), and being
\\ assembler lines they fit both cell sizes and leave a USE16BIT at the
\\ top of the first source in force. Outside the runner they do nothing.
$T{:
$	ret
$->:
$	ret
$}T:
$	ret
