\\ Core tests (core.fr): basic assumptions, booleans, shifts. The suite
\\ runs in HEX; numbers here are decimal, hexadecimal ones written $8000.

\\ TESTING BASIC ASSUMPTIONS
: BITSSET? IF 0 0 ELSE 0 THEN ;      \\ any bits set? The answer in base 1
: test-basic-assumptions
  T{ -> }T
  T{  0 BITSSET? -> 0 }T
  T{  1 BITSSET? -> 0 0 }T
  T{ -1 BITSSET? -> 0 0 }T ;

\\ TESTING BOOLEANS: INVERT AND OR XOR
: test-booleans
  T{ 0 0 AND -> 0 }T
  T{ 0 1 AND -> 0 }T
  T{ 1 0 AND -> 0 }T
  T{ 1 1 AND -> 1 }T
  T{ 0 INVERT 1 AND -> 1 }T
  T{ 1 INVERT 1 AND -> 0 }T
  T{ 0S INVERT -> 1S }T
  T{ 1S INVERT -> 0S }T
  T{ 0S 0S AND -> 0S }T
  T{ 0S 1S AND -> 0S }T
  T{ 1S 0S AND -> 0S }T
  T{ 1S 1S AND -> 1S }T
  T{ 0S 0S OR -> 0S }T
  T{ 0S 1S OR -> 1S }T
  T{ 1S 0S OR -> 1S }T
  T{ 1S 1S OR -> 1S }T
  T{ 0S 0S XOR -> 0S }T
  T{ 0S 1S XOR -> 1S }T
  T{ 1S 0S XOR -> 1S }T
  T{ 1S 1S XOR -> 0S }T ;

\\ TESTING 2* 2/ LSHIFT RSHIFT
: test-shifts
  T{ MSB BITSSET? -> 0 0 }T
  T{ 0S 2* -> 0S }T
  T{ 1 2* -> 2 }T
  T{ $4000 2* -> $8000 }T
  T{ 1S 2* 1 XOR -> 1S }T
  T{ MSB 2* -> 0S }T
  T{ 0S 2/ -> 0S }T
  T{ 1 2/ -> 0 }T
  T{ $4000 2/ -> $2000 }T
  T{ 1S 2/ -> 1S }T                  \\ the sign propagated
  T{ 1S 1 XOR 2/ -> 1S }T
  T{ MSB 2/ MSB AND -> MSB }T
  T{ 1 0 LSHIFT -> 1 }T
  T{ 1 1 LSHIFT -> 2 }T
  T{ 1 2 LSHIFT -> 4 }T
  T{ 1 15 LSHIFT -> $8000 }T         \\ the biggest shift guaranteed
  T{ 1S 1 LSHIFT 1 XOR -> 1S }T
  T{ MSB 1 LSHIFT -> 0 }T
  T{ 1 0 RSHIFT -> 1 }T
  T{ 1 1 RSHIFT -> 0 }T
  T{ 2 1 RSHIFT -> 1 }T
  T{ 4 2 RSHIFT -> 1 }T
  T{ $8000 15 RSHIFT -> 1 }T         \\ the biggest
  T{ MSB 1 RSHIFT MSB AND -> 0 }T    \\ RSHIFT fills the high bits with zeros
  T{ MSB 1 RSHIFT 2* -> MSB }T ;
