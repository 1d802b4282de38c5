\\ needs a UART
\\ The suite's output tests (core.fr, coreexttest.fth, doubletest.fth,
\\ coreplustest.fth): . ." CR EMIT SPACE SPACES TYPE U. .R U.R D. D.R.
\\ The suite leaves the text to the eye; here the tests check that the words run and leave
\\ the stack as they found it, and the case forth2012-output of
\\ tests/sim/cases.txt runs main and checks the text, character for
\\ character. S" texts lie in flash: TYPEP sends them.

\\ TESTING OUTPUT: . ." CR EMIT SPACE SPACES TYPE U.   (core.fr)
: OUTPUT-TEST
  ." YOU SHOULD SEE THE STANDARD GRAPHIC CHARACTERS:" CR
  $41 BL DO I EMIT LOOP CR
  $61 $41 DO I EMIT LOOP CR
  $7F $61 DO I EMIT LOOP CR
  ." YOU SHOULD SEE 0-9 SEPARATED BY A SPACE:" CR
  9 1+ 0 DO I . LOOP CR
  ." YOU SHOULD SEE 0-9 (WITH NO SPACES):" CR
  '9 1+ '0 DO I 0 SPACES EMIT LOOP CR
  ." YOU SHOULD SEE A-G SEPARATED BY A SPACE:" CR
  'G 1+ 'A DO I EMIT SPACE LOOP CR
  ." YOU SHOULD SEE 0-5 SEPARATED BY TWO SPACES:" CR
  5 1+ 0 DO I '0 + EMIT 2 SPACES LOOP CR
  ." YOU SHOULD SEE TWO SEPARATE LINES:" CR
  S" LINE 1" TYPEP CR S" LINE 2" TYPEP CR
  ." YOU SHOULD SEE THE NUMBER RANGES OF SIGNED AND UNSIGNED NUMBERS:" CR
  ."   SIGNED: " MIN-INT . MAX-INT . CR
  ." UNSIGNED: " 0 U. MAX-UINT U. CR ;

\\ TESTING .R and U.R   (coreexttest.fth)
\\ Large integers just below MAX-INT and above MIN-INT
: LI1 MAX-INT 73 79 */ ;
: LI2 MIN-INT 71 73 */ ;
: LENLI1 LI1 0 <# #S #> NIP ;
: .R-U.R-LINES ( u1 u2 -- )   \\ the suite's (.R&U.R): u1 <= string length, u2 is the indentation
  TUCK + >R
  LI1 OVER SPACES  . CR R@    LI1 SWAP  .R CR
  LI2 OVER SPACES  . CR R@ 1+ LI2 SWAP  .R CR
  LI1 OVER SPACES U. CR R@    LI1 SWAP U.R CR
  LI2 SWAP SPACES U. CR R>    LI2 SWAP U.R CR ;
: .R-U.R ( -- )
  CR ." You should see lines duplicated:" CR
  ." indented by 0 spaces" CR 0      0 .R-U.R-LINES CR
  ." indented by 0 spaces" CR LENLI1 0 .R-U.R-LINES CR   \\ just fits the width
  ." indented by 5 spaces" CR LENLI1 5 .R-U.R-LINES CR ;

\\ TESTING D. D.R   (doubletest.fth)
\\ MAX-2INT 71 73 M*/ and MIN-2INT 73 79 M*/, truncated, computed by hand
\\ (this Forth has no M*/)
: DBL1 2088614420. ;
: DBL2 -1984385826. ;
: D>ASCII ( d -- addr u ) DUP >R DABS <# #S R> SIGN #> ;
: DOUBLEOUTPUT
  CR ." You should see lines duplicated:" CR
  5 SPACES DBL1 D>ASCII TYPE CR
  5 SPACES DBL1 D. CR
  8 SPACES DBL1 D>ASCII DUP >R TYPE CR
  5 SPACES DBL1 R> 3 + D.R CR
  5 SPACES DBL2 D>ASCII TYPE CR
  5 SPACES DBL2 D. CR
  10 SPACES DBL2 D>ASCII DUP >R TYPE CR
  5 SPACES DBL2 R> 5 + D.R CR ;

\\ TESTING parsing behaviour of ." and (, which end just beyond their
\\ closing character   (coreplustest.fth; its PB1 names a port bit here)
: PARSE1 CR ." You should see 2345: "." 2345"( A comment) CR ;

: test-output        T{ OUTPUT-TEST -> }T ;
: test-dot-r-u-dot-r T{ .R-U.R -> }T ;
: test-d-dot-d-dot-r T{ DOUBLEOUTPUT -> }T ;
: test-parsing-dot-quote T{ PARSE1 -> }T ;
: main OUTPUT-TEST .R-U.R DOUBLEOUTPUT PARSE1 ;
