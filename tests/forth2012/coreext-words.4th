\\ Core extension tests (coreexttest.fth): TRUE FALSE <> U> 0<> 0> NIP
\\ TUCK PICK 2>R 2R> AGAIN ?DO.

\\ TESTING TRUE FALSE
: test-true-false
  T{ TRUE  -> 0 INVERT }T
  T{ FALSE -> 0 }T ;

\\ TESTING <> U>
: test-not-equals-u-greater
  T{ 0 0 <> -> FALSE }T
  T{ 1 1 <> -> FALSE }T
  T{ -1 -1 <> -> FALSE }T
  T{ 1 0 <> -> TRUE }T
  T{ -1 0 <> -> TRUE }T
  T{ 0 1 <> -> TRUE }T
  T{ 0 -1 <> -> TRUE }T
  T{ 0 1 U> -> FALSE }T
  T{ 1 2 U> -> FALSE }T
  T{ 0 MID-UINT U> -> FALSE }T
  T{ 0 MAX-UINT U> -> FALSE }T
  T{ MID-UINT MAX-UINT U> -> FALSE }T
  T{ 0 0 U> -> FALSE }T
  T{ 1 1 U> -> FALSE }T
  T{ 1 0 U> -> TRUE }T
  T{ 2 1 U> -> TRUE }T
  T{ MID-UINT 0 U> -> TRUE }T
  T{ MAX-UINT 0 U> -> TRUE }T
  T{ MAX-UINT MID-UINT U> -> TRUE }T ;

\\ TESTING 0<> 0>
: test-zero-not-equals-zero-greater
  T{ 0 0<> -> FALSE }T
  T{ 1 0<> -> TRUE }T
  T{ 2 0<> -> TRUE }T
  T{ -1 0<> -> TRUE }T
  T{ MAX-UINT 0<> -> TRUE }T
  T{ MIN-INT 0<> -> TRUE }T
  T{ MAX-INT 0<> -> TRUE }T
  T{ 0 0> -> FALSE }T
  T{ -1 0> -> FALSE }T
  T{ MIN-INT 0> -> FALSE }T
  T{ 1 0> -> TRUE }T
  T{ MAX-INT 0> -> TRUE }T ;

\\ TESTING NIP TUCK PICK   (ROLL: this Forth has none)
: RO5 100 200 300 400 500 ;
: test-nip-tuck-pick
  T{ 1 2 NIP -> 2 }T
  T{ 1 2 3 NIP -> 1 3 }T
  T{ 1 2 TUCK -> 2 1 2 }T
  T{ 1 2 3 TUCK -> 1 3 2 3 }T
  T{ RO5 2 PICK -> 100 200 300 400 500 300 }T
  T{ RO5 1 PICK -> RO5 OVER }T
  T{ RO5 0 PICK -> RO5 DUP }T ;

\\ TESTING 2>R 2R>   (2R@: this Forth has none)
: RR0 2>R 100 R> R> ;
: RR2 2>R 100 2R> ;
: test-two-to-r
  T{ 300 400 RR0 -> 100 400 300 }T
  T{ 200 300 400 RR0 -> 200 100 400 300 }T
  T{ 300 400 RR2 -> 100 300 400 }T
  T{ 200 300 400 RR2 -> 200 100 300 400 }T ;

\\ TESTING AGAIN
: AG0 701 BEGIN DUP 7 MOD 0= IF EXIT THEN 1+ AGAIN ;
: test-again
  T{ AG0 -> 707 }T ;

\\ TESTING ?DO
: QD ?DO I LOOP ;
: QD1 ?DO I 10 +LOOP ;
: QD2 ?DO I 3 > IF LEAVE ELSE I THEN LOOP ;
: QD3 ?DO I 1 +LOOP ;
: QD4 ?DO I -1 +LOOP ;
: QD5 ?DO I -10 +LOOP ;
VARIABLE ITERS
VARIABLE INCRMNT
: QD6 ( limit start increment -- )
  INCRMNT !
  0 ITERS !
  ?DO
    1 ITERS +!
    I
    ITERS @  6 = IF LEAVE THEN
    INCRMNT @
  +LOOP ITERS @ ;
: test-question-do
  T{ 789 789 QD -> }T
  T{ -9876 -9876 QD -> }T
  T{ 5 0 QD -> 0 1 2 3 4 }T
  T{ 50 1 QD1 -> 1 11 21 31 41 }T
  T{ 50 0 QD1 -> 0 10 20 30 40 }T
  T{ 5 -1 QD2 -> -1 0 1 2 3 }T
  T{ 4  4 QD3 -> }T
  T{ 4  1 QD3 -> 1 2 3 }T
  T{ 2 -1 QD3 -> -1 0 1 }T
  T{  4 4 QD4 -> }T
  T{  1 4 QD4 -> 4 3 2 1 }T
  T{ -1 2 QD4 -> 2 1 0 -1 }T
  T{   1 50 QD5 -> 50 40 30 20 10 }T
  T{   0 50 QD5 -> 50 40 30 20 10 0 }T
  T{ -25 10 QD5 -> 10 0 -10 -20 }T ;
: test-question-do-step
  T{  4  4 -1 QD6 -> 0 }T
  T{  1  4 -1 QD6 -> 4 3 2 1 4 }T
  T{  4  1 -1 QD6 -> 1 0 -1 -2 -3 -4 6 }T
  T{  4  1  0 QD6 -> 1 1 1 1 1 1 6 }T
  T{  0  0  0 QD6 -> 0 }T
  T{  1  4  0 QD6 -> 4 4 4 4 4 4 6 }T
  T{  1  4  1 QD6 -> 4 5 6 7 8 9 6 }T
  T{  4  1  1 QD6 -> 1 2 3 3 }T
  T{  4  4  1 QD6 -> 0 }T
  T{  2 -1 -1 QD6 -> -1 -2 -3 -4 -5 -6 6 }T
  T{ -1  2 -1 QD6 -> 2 1 0 -1 4 }T
  T{  2 -1  0 QD6 -> -1 -1 -1 -1 -1 -1 6 }T
  T{ -1  2  0 QD6 -> 2 2 2 2 2 2 6 }T
  T{ -1  2  1 QD6 -> 2 3 4 5 6 7 6 }T
  T{  2 -1  1 QD6 -> -1 0 1 3 }T ;
