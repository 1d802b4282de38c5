\\ Further core tests (coreplustest.fth): where S" and ( end, number
\\ prefixes and character literals.

\\ TESTING parsing behaviour of S" and ( which parse to just beyond the
\\ closing character, no blank needed
: GC5 S" A string"2DROP ;
: CMT1 ( A comment)1234 ;
: test-parsing
  T{ GC5 -> }T
  T{ CMT1 -> 1234 }T ;

\\ TESTING number prefixes $ and 'c' character input   (# % and signed
\\ hexadecimal: this Forth reads decimal, $ hexadecimal and 'c only)
: NMP $12eF 'z' 'Z' ''' ;
: test-number-prefixes
  T{ $12eF -> 4847 }T
  T{ 'z' -> 122 }T
  T{ 'Z' -> 90 }T
  T{ NMP -> 4847 122 90 39 }T ;
