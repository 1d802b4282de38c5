\\ Further core tests (coreplustest.fth): DO +LOOP with run-time, large,
\\ small, maximum and minimum steps, +LOOP moving I anywhere, several
\\ RECURSEs in one definition.

\\ TESTING DO +LOOP with run-time increment, negative increment, infinite loop
VARIABLE ITERATIONS
VARIABLE INCREMENT
: GD7 ( limit start increment -- )
  INCREMENT !
  0 ITERATIONS !
  DO
    1 ITERATIONS +!
    I
    ITERATIONS @  6 = IF LEAVE THEN
    INCREMENT @
  +LOOP ITERATIONS @ ;
: test-plus-loop-run-time-step
  T{  4  4 -1 GD7 -> 4 1 }T
  T{  1  4 -1 GD7 -> 4 3 2 1 4 }T
  T{  4  1 -1 GD7 -> 1 0 -1 -2 -3 -4 6 }T
  T{  4  1  0 GD7 -> 1 1 1 1 1 1 6 }T
  T{  0  0  0 GD7 -> 0 0 0 0 0 0 6 }T
  T{  1  4  0 GD7 -> 4 4 4 4 4 4 6 }T
  T{  1  4  1 GD7 -> 4 5 6 7 8 9 6 }T
  T{  4  1  1 GD7 -> 1 2 3 3 }T
  T{  4  4  1 GD7 -> 4 5 6 7 8 9 6 }T
  T{  2 -1 -1 GD7 -> -1 -2 -3 -4 -5 -6 6 }T
  T{ -1  2 -1 GD7 -> 2 1 0 -1 4 }T
  T{  2 -1  0 GD7 -> -1 -1 -1 -1 -1 -1 6 }T
  T{ -1  2  0 GD7 -> 2 2 2 2 2 2 6 }T
  T{ -1  2  1 GD7 -> 2 3 4 5 6 7 6 }T
  T{  2 -1  1 GD7 -> -1 0 1 3 }T
  T{ -20 30 -10 GD7 -> 30 20 10 0 -10 -20 6 }T
  T{ -20 31 -10 GD7 -> 31 21 11 1 -9 -19 6 }T
  T{ -20 29 -10 GD7 -> 29 19 9 -1 -11 5 }T ;

\\ TESTING DO +LOOP with large and small increments
: USTEP MAX-UINT 8 RSHIFT 1+ ;
: -USTEP USTEP NEGATE ;
: STEP MAX-INT 7 RSHIFT 1+ ;
: -STEP STEP NEGATE ;
VARIABLE BUMP
: GD8 BUMP ! DO 1+ BUMP @ +LOOP ;
\\ Two's complement arithmetic wraps around modulo the cell size
: +WRAP? MAX-INT 1+ MIN-INT = ;
: -WRAP? MIN-INT 1- MAX-INT = ;
: +UWRAP? MAX-UINT 1+ 0= ;
: -UWRAP? 0 1- MAX-UINT = ;
: GD9 ( n limit start step f result -- )
  >R IF GD8 ELSE 2DROP 2DROP R@ THEN -> R> }T ;
: test-plus-loop-large-steps
  T{ 0 MAX-UINT 0 USTEP GD8 -> 256 }T
  T{ 0 0 MAX-UINT -USTEP GD8 -> 256 }T
  T{ 0 MAX-INT MIN-INT STEP GD8 -> 256 }T
  T{ 0 MIN-INT MAX-INT -STEP GD8 -> 256 }T
  T{ 0 0 0  USTEP +UWRAP? 256 GD9
  T{ 0 0 0 -USTEP -UWRAP?   1 GD9
  T{ 0 MIN-INT MAX-INT  STEP +WRAP? 1 GD9
  T{ 0 MAX-INT MIN-INT -STEP -WRAP? 1 GD9 ;

\\ TESTING DO +LOOP with maximum and minimum increments
: -MAX-INT MAX-INT DUP NEGATE + 0= IF MAX-INT NEGATE ELSE -32767 THEN ;
: test-plus-loop-extreme-steps
  T{ 0 1 0 MAX-INT GD8  -> 1 }T
  T{ 0 -MAX-INT NEGATE -MAX-INT OVER GD8  -> 2 }T
  T{ 0 MAX-INT  0 MAX-INT GD8  -> 1 }T
  T{ 0 MAX-INT  1 MAX-INT GD8  -> 1 }T
  T{ 0 MAX-INT -1 MAX-INT GD8  -> 2 }T
  T{ 0 MAX-INT DUP 1- MAX-INT GD8  -> 1 }T
  T{ 0 MIN-INT 1+   0 MIN-INT GD8  -> 1 }T
  T{ 0 MIN-INT 1+  -1 MIN-INT GD8  -> 1 }T
  T{ 0 MIN-INT 1+   1 MIN-INT GD8  -> 2 }T
  T{ 0 MIN-INT 1+ DUP MIN-INT GD8  -> 1 }T ;

\\ TESTING +LOOP setting I to an arbitrary value   (the suite's PL1 to PL8:
\\ PL1 names a port bit of the ATmega2560)
: SET-I ( n1 n2 n3 -- n1-n2 | 1 ) OVER = IF - ELSE 2DROP 1 THEN ;
: -SET-I ( n1 n2 n3 -- n1-n2 | -1 ) SET-I DUP 1 = IF NEGATE THEN ;
: PLP1 20 1 DO I 18 I 3 SET-I +LOOP ;
: PLP2 20 1 DO I 20 I 2 SET-I +LOOP ;
: PLP3 20 5 DO I 19 I 2 SET-I DUP 1 = IF DROP 0 I 6 SET-I THEN +LOOP ;
: PLP4 20 1 DO I MAX-INT I 4 SET-I +LOOP ;
: PLP5 -20 -1 DO I -19 I -3 -SET-I +LOOP ;
: PLP6 -20 -1 DO I -21 I -4 -SET-I +LOOP ;
: PLP7 -20 -1 DO I MIN-INT I -5 -SET-I +LOOP ;
: PLP8 -20 -5 DO I -20 I -2 -SET-I DUP -1 = IF DROP 0 I -6 -SET-I THEN +LOOP ;
: test-plus-loop-moving-i
  T{ PLP1 -> 1 2 3 18 19 }T
  T{ PLP2 -> 1 2 }T
  T{ PLP3 -> 5 6 0 1 2 19 }T
  T{ PLP4 -> 1 2 3 4 }T
  T{ PLP5 -> -1 -2 -3 -19 -20 }T
  T{ PLP6 -> -1 -2 -3 -4 }T
  T{ PLP7 -> -1 -2 -3 -4 -5 }T
  T{ PLP8 -> -5 -6 0 -1 -2 -20 }T ;

\\ TESTING multiple RECURSEs in one colon definition
: ACK ( m n -- u )   \\ the Ackermann function
  OVER 0= IF  NIP 1+ EXIT  THEN          \\ ack(0, n) = n+1
  SWAP 1- SWAP                           ( -- m-1 n )
  DUP  0= IF  1+  RECURSE EXIT  THEN     \\ ack(m, 0) = ack(m-1, 1)
  1- OVER 1+ SWAP RECURSE RECURSE ;      \\ ack(m, n) = ack(m-1, ack(m,n-1))
: test-ackermann
  T{ 0 0 ACK ->  1 }T
  T{ 3 0 ACK ->  5 }T
  T{ 2 4 ACK -> 11 }T ;
