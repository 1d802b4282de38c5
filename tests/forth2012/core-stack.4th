\\ Core tests (core.fr): stack words, the return stack, adding and
\\ subtracting. >R and R> use this Forth's loop stack, which serves as
\\ its return stack for data.

\\ TESTING STACK OPS: 2DROP 2DUP 2OVER 2SWAP ?DUP DEPTH DROP DUP OVER ROT SWAP
: test-stack-ops
  T{ 1 2 2DROP -> }T
  T{ 1 2 2DUP -> 1 2 1 2 }T
  T{ 1 2 3 4 2OVER -> 1 2 3 4 1 2 }T
  T{ 1 2 3 4 2SWAP -> 3 4 1 2 }T
  T{ 0 ?DUP -> 0 }T
  T{ 1 ?DUP -> 1 1 }T
  T{ -1 ?DUP -> -1 -1 }T
  T{ DEPTH -> 0 }T
  T{ 0 DEPTH -> 0 1 }T
  T{ 0 1 DEPTH -> 0 1 2 }T
  T{ 0 DROP -> }T
  T{ 1 2 DROP -> 1 }T
  T{ 1 DUP -> 1 1 }T
  T{ 1 2 OVER -> 1 2 1 }T
  T{ 1 2 3 ROT -> 2 3 1 }T
  T{ 1 2 SWAP -> 2 1 }T ;

\\ TESTING >R R> R@
: GR1 >R R> ;
: GR2 >R R@ R> DROP ;
: test-return-stack
  T{ 123 GR1 -> 123 }T
  T{ 123 GR2 -> 123 }T
  T{ 1S GR1 -> 1S }T ;               \\ the return stack holds cells

\\ TESTING ADD/SUBTRACT: + - 1+ 1- ABS NEGATE
: test-plus
  T{ 0 5 + -> 5 }T
  T{ 5 0 + -> 5 }T
  T{ 0 -5 + -> -5 }T
  T{ -5 0 + -> -5 }T
  T{ 1 2 + -> 3 }T
  T{ 1 -2 + -> -1 }T
  T{ -1 2 + -> 1 }T
  T{ -1 -2 + -> -3 }T
  T{ -1 1 + -> 0 }T
  T{ MID-UINT 1 + -> MID-UINT+1 }T ;

: test-minus
  T{ 0 5 - -> -5 }T
  T{ 5 0 - -> 5 }T
  T{ 0 -5 - -> 5 }T
  T{ -5 0 - -> -5 }T
  T{ 1 2 - -> -1 }T
  T{ 1 -2 - -> 3 }T
  T{ -1 2 - -> -3 }T
  T{ -1 -2 - -> 1 }T
  T{ 0 1 - -> -1 }T
  T{ MID-UINT+1 1 - -> MID-UINT }T ;

: test-one-plus-minus
  T{ 0 1+ -> 1 }T
  T{ -1 1+ -> 0 }T
  T{ 1 1+ -> 2 }T
  T{ MID-UINT 1+ -> MID-UINT+1 }T
  T{ 2 1- -> 1 }T
  T{ 1 1- -> 0 }T
  T{ 0 1- -> -1 }T
  T{ MID-UINT+1 1- -> MID-UINT }T ;

: test-negate-abs
  T{ 0 NEGATE -> 0 }T
  T{ 1 NEGATE -> -1 }T
  T{ -1 NEGATE -> 1 }T
  T{ 2 NEGATE -> -2 }T
  T{ -2 NEGATE -> 2 }T
  T{ 0 ABS -> 0 }T
  T{ 1 ABS -> 1 }T
  T{ -1 ABS -> 1 }T
  T{ MIN-INT ABS -> MID-UINT+1 }T ;
