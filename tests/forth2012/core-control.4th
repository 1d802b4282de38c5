\\ Core tests (core.fr): control structures, loops, defining words.

\\ TESTING IF ELSE THEN BEGIN WHILE REPEAT UNTIL RECURSE
: GI1 IF 123 THEN ;
: GI2 IF 123 ELSE 234 THEN ;
: GI3 BEGIN DUP 5 < WHILE DUP 1+ REPEAT ;
: GI4 BEGIN DUP 1+ DUP 5 > UNTIL ;
: GI5 BEGIN DUP 2 >
      WHILE DUP 5 < WHILE DUP 1+ REPEAT 123 ELSE 345 THEN ;
: GI6 ( n -- 0,1,..n ) DUP IF DUP >R 1- RECURSE R> THEN ;
: test-if
  T{ 0 GI1 -> }T
  T{ 1 GI1 -> 123 }T
  T{ -1 GI1 -> 123 }T
  T{ 0 GI2 -> 234 }T
  T{ 1 GI2 -> 123 }T
  T{ -1 GI1 -> 123 }T ;
: test-begin
  T{ 0 GI3 -> 0 1 2 3 4 5 }T
  T{ 4 GI3 -> 4 5 }T
  T{ 5 GI3 -> 5 }T
  T{ 6 GI3 -> 6 }T
  T{ 3 GI4 -> 3 4 5 6 }T
  T{ 5 GI4 -> 5 6 }T
  T{ 6 GI4 -> 6 7 }T
  T{ 1 GI5 -> 1 345 }T
  T{ 2 GI5 -> 2 345 }T
  T{ 3 GI5 -> 3 4 5 123 }T
  T{ 4 GI5 -> 4 5 123 }T
  T{ 5 GI5 -> 5 123 }T ;
: test-recurse
  T{ 0 GI6 -> 0 }T
  T{ 1 GI6 -> 0 1 }T
  T{ 2 GI6 -> 0 1 2 }T
  T{ 3 GI6 -> 0 1 2 3 }T
  T{ 4 GI6 -> 0 1 2 3 4 }T ;

\\ TESTING DO LOOP +LOOP I J UNLOOP LEAVE EXIT
: GD1 DO I LOOP ;
: GD2 DO I -1 +LOOP ;
: GD3 DO 1 0 DO J LOOP LOOP ;
: GD4 DO 1 0 DO J LOOP -1 +LOOP ;
: GD5 123 SWAP 0 DO I 4 > IF DROP 234 LEAVE THEN LOOP ;
: GD6 ( pattern: {0 0},{0 0}{1 0}{1 1},{0 0}{1 0}{1 1}{2 0}{2 1}{2 2} )
  0 SWAP 0 DO
    I 1+ 0 DO I J + 3 = IF I UNLOOP I UNLOOP EXIT THEN 1+ LOOP
  LOOP ;
: test-do-loop
  T{ 4 1 GD1 -> 1 2 3 }T
  T{ 2 -1 GD1 -> -1 0 1 }T
  T{ MID-UINT+1 MID-UINT GD1 -> MID-UINT }T
  T{ 1 4 GD2 -> 4 3 2 1 }T
  T{ -1 2 GD2 -> 2 1 0 -1 }T
  T{ MID-UINT MID-UINT+1 GD2 -> MID-UINT+1 MID-UINT }T ;
: test-nested-loops
  T{ 4 1 GD3 -> 1 2 3 }T
  T{ 2 -1 GD3 -> -1 0 1 }T
  T{ MID-UINT+1 MID-UINT GD3 -> MID-UINT }T
  T{ 1 4 GD4 -> 4 3 2 1 }T
  T{ -1 2 GD4 -> 2 1 0 -1 }T
  T{ MID-UINT MID-UINT+1 GD4 -> MID-UINT+1 MID-UINT }T ;
: test-leave-unloop-exit
  T{ 1 GD5 -> 123 }T
  T{ 5 GD5 -> 123 }T
  T{ 6 GD5 -> 234 }T
  T{ 1 GD6 -> 1 }T
  T{ 2 GD6 -> 3 }T
  T{ 3 GD6 -> 4 1 2 }T ;

\\ TESTING DEFINING WORDS: : ; CONSTANT VARIABLE
123 CONSTANT X123
VARIABLE V1
: NOP1 ;
: test-constant-variable
  T{ X123 -> 123 }T
  T{ 123 V1 ! -> }T
  T{ V1 @ -> 123 }T
  T{ NOP1 -> }T ;
