\\ Double-number tests (doubletest.fth): reading doubles, DNEGATE, D+, D-.

\\ TESTING compiler reading double numbers, with/without prefixes
: RDL1 3. ;
: RDL2 -4. ;
: test-double-literals
  T{ 1. -> 1 0 }T
  T{ -2. -> -2 -1 }T
  T{ RDL1 -> 3 0 }T
  T{ RDL2 -> -4 -1 }T
  T{ $12aBcDeF. -> 313249263. }T
  \\ the ends of the range, beyond the suite
  T{ 2147483647. -> MAX-2INT }T
  T{ -2147483648. -> MIN-2INT }T
  T{ 4294967295. -> -1 -1 }T ;

\\ TESTING DNEGATE
: test-dnegate
  T{ 0. DNEGATE -> 0. }T
  T{ 1. DNEGATE -> -1. }T
  T{ -1. DNEGATE -> 1. }T
  T{ MAX-2INT DNEGATE -> MIN-2INT SWAP 1+ SWAP }T
  T{ MIN-2INT SWAP 1+ SWAP DNEGATE -> MAX-2INT }T ;

\\ TESTING D+ with small, mid range and large integers
: test-d-plus
  T{  0.  5. D+ ->  5. }T
  T{ -5.  0. D+ -> -5. }T
  T{  1.  2. D+ ->  3. }T
  T{  1. -2. D+ -> -1. }T
  T{ -1.  2. D+ ->  1. }T
  T{ -1. -2. D+ -> -3. }T
  T{ -1.  1. D+ ->  0. }T
  T{  0  0  0  5 D+ ->  0  5 }T
  T{ -1  5  0  0 D+ -> -1  5 }T
  T{  0  0  0 -5 D+ ->  0 -5 }T
  T{  0 -5 -1  0 D+ -> -1 -5 }T
  T{  0  1  0  2 D+ ->  0  3 }T
  T{ -1  1  0 -2 D+ -> -1 -1 }T
  T{  0 -1  0  2 D+ ->  0  1 }T
  T{  0 -1 -1 -2 D+ -> -1 -3 }T
  T{ -1 -1  0  1 D+ -> -1  0 }T
  T{ MIN-INTD 0 2DUP D+ -> 0 1 }T
  T{ MIN-INTD S>D MIN-INTD 0 D+ -> 0 0 }T
  T{ HI-2INT 1. D+ -> 0 HI-INT 1+ }T
  T{ HI-2INT 2DUP D+ -> 1SD 1- MAX-INTD }T
  T{ MAX-2INT MIN-2INT D+ -> -1. }T
  T{ MAX-2INT LO-2INT D+ -> HI-2INT }T
  T{ HI-2INT MIN-2INT D+ 1. D+ -> LO-2INT }T
  T{ LO-2INT 2DUP D+ -> MIN-2INT }T ;

\\ TESTING D- with small, mid range and large integers
: test-d-minus
  T{  0.  5. D- -> -5. }T
  T{  5.  0. D- ->  5. }T
  T{  0. -5. D- ->  5. }T
  T{  1.  2. D- -> -1. }T
  T{  1. -2. D- ->  3. }T
  T{ -1.  2. D- -> -3. }T
  T{ -1. -2. D- ->  1. }T
  T{ -1. -1. D- ->  0. }T
  T{  0  0  0  5 D- ->  0 -5 }T
  T{ -1  5  0  0 D- -> -1  5 }T
  T{  0  0 -1 -5 D- ->  1  4 }T
  T{  0 -5  0  0 D- ->  0 -5 }T
  T{ -1  1  0  2 D- -> -1 -1 }T
  T{  0  1 -1 -2 D- ->  1  2 }T
  T{  0 -1  0  2 D- ->  0 -3 }T
  T{  0 -1  0 -2 D- ->  0  1 }T
  T{  0  0  0  1 D- ->  0 -1 }T
  T{ MIN-INTD 0 2DUP D- -> 0. }T
  T{ MIN-INTD S>D MAX-INTD 0 D- -> 1 1SD }T
  T{ MAX-2INT MAX-2INT D- -> 0. }T
  T{ MIN-2INT MIN-2INT D- -> 0. }T
  T{ MAX-2INT HI-2INT  D- -> LO-2INT DNEGATE }T
  T{ HI-2INT  LO-2INT  D- -> MAX-2INT }T
  T{ LO-2INT  HI-2INT  D- -> MIN-2INT 1. D+ }T
  T{ MIN-2INT MIN-2INT D- -> 0. }T
  T{ MIN-2INT LO-2INT  D- -> LO-2INT }T ;
