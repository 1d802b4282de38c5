\\ Core tests (core.fr): data space, characters, text, execution tokens.
\\ The suite takes addresses from HERE at the top level; here CREATE names
\\ them, and C, , and ALLOT lay the data behind each name, in RAM.

\\ TESTING HERE , @ ! CELL+ CELLS C, C@ C! CHARS 2@ 2! +! ALLOT
CREATE 1STA 1 ALLOT
CREATE 2NDA
: test-allot
  T{ 1STA 2NDA U< -> <TRUE> }T       \\ the data space grows with ALLOT
  T{ 1STA 1+ -> 2NDA }T ;            \\ ... by one address unit

CREATE 1ST 1 ,
CREATE 2ND 2 ,
: test-comma-fetch-store
  T{ 1ST 2ND U< -> <TRUE> }T         \\ the data space grows with ,
  T{ 1ST CELL+ -> 2ND }T             \\ ... by one cell
  T{ 1ST 1 CELLS + -> 2ND }T
  T{ 1ST @ 2ND @ -> 1 2 }T
  T{ 5 1ST ! -> }T
  T{ 1ST @ 2ND @ -> 5 2 }T
  T{ 6 2ND ! -> }T
  T{ 1ST @ 2ND @ -> 5 6 }T
  T{ 1ST 2@ -> 6 5 }T
  T{ 2 1 1ST 2! -> }T
  T{ 1ST 2@ -> 2 1 }T
  T{ 1S 1ST !  1ST @ -> 1S }T ;      \\ a store keeps the whole cell

CREATE 1STC 1 C,
CREATE 2NDC 2 C,
: test-c-comma-fetch-store
  T{ 1STC 2NDC U< -> <TRUE> }T
  T{ 1STC CHAR+ -> 2NDC }T           \\ ... by one character
  T{ 1STC 1 CHARS + -> 2NDC }T
  T{ 1STC C@ 2NDC C@ -> 1 2 }T
  T{ 3 1STC C! -> }T
  T{ 1STC C@ 2NDC C@ -> 3 2 }T
  T{ 4 2NDC C! -> }T
  T{ 1STC C@ 2NDC C@ -> 3 4 }T ;

\\ The suite's aligned area, here behind an odd address: no access of
\\ the AVR needs alignment.
CREATE UA-ADDR 1 ALLOT
CREATE A-ADDR 6 ALLOT
: test-cells-at-an-address
  T{    1 A-ADDR C!  A-ADDR C@ ->    1 }T
  T{ 1234 A-ADDR  !  A-ADDR  @ -> 1234 }T
  T{ 123 456 A-ADDR 2!  A-ADDR 2@ -> 123 456 }T
  T{ 2 A-ADDR CHAR+ C!  A-ADDR CHAR+ C@ -> 2 }T
  T{ 3 A-ADDR CELL+ C!  A-ADDR CELL+ C@ -> 3 }T
  T{ 1234 A-ADDR CELL+ !  A-ADDR CELL+ @ -> 1234 }T
  T{ 123 456 A-ADDR CELL+ 2!  A-ADDR CELL+ 2@ -> 123 456 }T ;

: BITS ( x -- u )
  0 SWAP BEGIN DUP WHILE DUP MSB AND IF >R 1+ R> THEN 2* REPEAT DROP ;
: test-plus-store
  T{ 1S BITS 16 < -> <FALSE> }T      \\ cells of 16 bits or more
  T{ 0 1ST ! -> }T
  T{ 1 1ST +! -> }T
  T{ 1ST @ -> 1 }T
  T{ -1 1ST +! 1ST @ -> 0 }T ;

\\ TESTING CHAR [CHAR] BL S"
\\ CHAR X and [CHAR] X are written 'X; S" leaves a text in flash, read
\\ with C@P.
: GC1 'X ;
: GC2 'H ;
: GC4 S" XY" ;
: test-char-bl-s-quote
  T{ BL -> 32 }T
  T{ 'X -> 88 }T
  T{ GC1 -> 88 }T
  T{ GC2 -> 72 }T
  T{ GC4 SWAP DROP -> 2 }T
  T{ GC4 DROP DUP C@P SWAP 1+ C@P -> 88 89 }T ;

\\ TESTING ['] EXECUTE COUNT
: GT1 123 ;
: GT2 ['] GT1 ;
CREATE GT1STRING 3 C, 'G C, 'T C, '1 C,
: test-tick-execute-count
  T{ ['] GT1 EXECUTE -> 123 }T
  T{ GT2 EXECUTE -> 123 }T
  T{ GT2 -> ['] GT1 }T
  T{ GT1STRING COUNT -> GT1STRING CHAR+ 3 }T ;
