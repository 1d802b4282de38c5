\\ Core extension tests (coreexttest.fth): VALUE TO, CASE, RECURSE, C",
\\ DEFER IS, ERASE.

\\ TESTING VALUE TO
111 VALUE VAL1
-999 VALUE VAL2
: VD1 VAL1 ;
: VD2 TO VAL2 ;
: test-value-to
  T{ VAL1 -> 111 }T
  T{ VAL2 -> -999 }T
  T{ 222 TO VAL1 -> }T
  T{ VAL1 -> 222 }T
  T{ VD1 -> 222 }T
  T{ VAL2 -> -999 }T
  T{ -333 VD2 -> }T
  T{ VAL2 -> -333 }T
  T{ VAL1 -> 222 }T
  T{ 444 TO VAL1 -> }T
  T{ VD1 -> 444 }T ;                 \\ a VALUE is not compiled as a constant

\\ TESTING CASE OF ENDOF ENDCASE
: CS1 CASE 1 OF 111 ENDOF
           2 OF 222 ENDOF
           3 OF 333 ENDOF
           >R 999 R>
      ENDCASE ;
\\ Nested CASEs. CASE takes its selector off the stack here, so the inner
\\ selector R@ stands before its CASE (the suite writes CASE R@ 1 OF).
: CS2 >R CASE -1 OF R@ CASE 1 OF 100 ENDOF
                            2 OF 200 ENDOF
                            >R -300 R>
                       ENDCASE
                 ENDOF
              -2 OF R@ CASE 1 OF -99 ENDOF
                            >R -199 R>
                       ENDCASE
                 ENDOF
                 >R 299 R>
         ENDCASE R> DROP ;
\\ Empty CASEs, with and without a default clause
: CS4 CASE ENDCASE ;
: CS5 CASE 2 SWAP ENDCASE ;
: test-case
  T{ 1 CS1 -> 111 }T
  T{ 2 CS1 -> 222 }T
  T{ 3 CS1 -> 333 }T
  T{ 4 CS1 -> 999 }T
  T{ -1 1 CS2 ->  100 }T
  T{ -1 2 CS2 ->  200 }T
  T{ -1 3 CS2 -> -300 }T
  T{ -2 1 CS2 -> -99 }T
  T{ -2 2 CS2 -> -199 }T
  T{  0 2 CS2 ->  299 }T
  T{ 1 CS4 -> }T
  T{ 1 CS5 -> 2 }T ;

\\ TESTING RECURSE   (the suite's :NONAME words, named here)
: RN1 ( n -- 0,1,..n ) DUP IF DUP >R 1- RECURSE R> THEN ;
: RN2 ( n -- n1 )   \\ several RECURSEs in one definition
  1- DUP
  CASE 0 OF EXIT ENDOF
       1 OF 11 SWAP RECURSE ENDOF
       2 OF 22 SWAP RECURSE ENDOF
       3 OF 33 SWAP RECURSE ENDOF
       DROP ABS RECURSE EXIT
  ENDCASE ;
: test-recurse-execute
  T{ 0 ['] RN1 EXECUTE -> 0 }T
  T{ 4 ['] RN1 EXECUTE -> 0 1 2 3 4 }T
  T{  1 ['] RN2 EXECUTE -> 0 }T
  T{  2 ['] RN2 EXECUTE -> 11 0 }T
  T{  4 ['] RN2 EXECUTE -> 33 22 11 0 }T
  T{ 25 ['] RN2 EXECUTE -> 33 22 11 0 }T ;

\\ TESTING C"   (the counted string lies in flash: COUNTP and C@P read it;
\\ the suite EVALUATEs it)
: CQ1 C" 123" ;
: CQ2 C" " ;
: CQ3 C" 2345"COUNTP ;
: test-c-quote
  T{ CQ1 COUNTP -> CQ1 1+ 3 }T
  T{ CQ1 COUNTP DROP DUP C@P SWAP 2 + C@P -> '1 '3 }T
  T{ CQ2 COUNTP -> CQ2 1+ 0 }T
  T{ CQ3 SWAP C@P -> 4 '2 }T ;       \\ parsed to just past the closing quote

\\ TESTING DEFER IS   (IS inside definitions; DEFER@ DEFER! ACTION-OF:
\\ this Forth has none)
DEFER DEFER1
DEFER DEFER2
: IS-DEFER1 IS DEFER1 ;
: test-defer-is
  T{ ['] * IS DEFER1 -> }T
  T{ 2 3 DEFER1 -> 6 }T
  T{ ['] + IS DEFER1 -> }T
  T{ 1 2 DEFER1 -> 3 }T
  T{ ['] - IS-DEFER1 -> }T
  T{ 1 2 DEFER1 -> -1 }T
  T{ ['] DUP IS DEFER2 -> }T
  T{ 1 DEFER2 -> 1 1 }T ;

\\ TESTING ERASE   (the suite's PAD, which this Forth lacks, is a buffer
\\ of the program here)
84 CONSTANT CHARS/PAD                \\ the least size of PAD
CREATE PADBUF 84 ALLOT
: MAXCHAR 255 ;
: CHECKPAD ( caddr u ch -- f )       \\ f = TRUE if u chars = ch
  SWAP 0
  ?DO
    OVER I CHARS + C@ OVER <>
    IF 2DROP UNLOOP FALSE EXIT THEN
  LOOP
  2DROP TRUE ;
: test-erase
  T{ 0 INVERT PADBUF C! PADBUF C@ -> MAXCHAR }T
  T{ PADBUF CHARS/PAD 2DUP MAXCHAR FILL MAXCHAR CHECKPAD -> TRUE }T
  T{ PADBUF CHARS/PAD 2DUP CHARS ERASE 0 CHECKPAD -> TRUE }T
  T{ PADBUF CHARS/PAD 2DUP MAXCHAR FILL PADBUF 0 ERASE MAXCHAR CHECKPAD -> TRUE }T
  T{ PADBUF 43 CHARS + 9 CHARS ERASE -> }T
  T{ PADBUF 43 MAXCHAR CHECKPAD -> TRUE }T
  T{ PADBUF 43 CHARS + 9 0 CHECKPAD -> TRUE }T
  T{ PADBUF 52 CHARS + CHARS/PAD 52 - MAXCHAR CHECKPAD -> TRUE }T ;
\\ Pictured output, even overfilled, leaves the buffer alone
: OVERFILL ( -- ) MAX-UINT MAX-UINT <# #S 40 0 DO '1 HOLD LOOP #> 2DROP ;
: test-picture-spares-buffers
  T{ PADBUF CHARS/PAD ERASE OVERFILL -> }T
  T{ PADBUF CHARS/PAD 0 CHECKPAD -> TRUE }T ;
