\\ Double-number tests (doubletest.fth): 2VARIABLE (as a VARIABLE of four
\\ bytes), DMAX DMIN, DABS, M+.

\\ TESTING 2VARIABLE   (this Forth names one with VARIABLE x 2 ALLOT)
VARIABLE 2V1 2 ALLOT
VARIABLE 2V2 2 ALLOT
: CD5 2V2 2! ;
: test-two-variable
  T{ 0. 2V1 2! -> }T
  T{ 2V1 2@ -> 0. }T
  T{ -1 -2 2V1 2! -> }T
  T{ 2V1 2@ -> -1 -2 }T
  T{ -2 -1 CD5 -> }T
  T{ 2V2 2@ -> -2 -1 }T
  T{ 2V1 2@ -> -1 -2 }T ;            \\ the neighbour is left alone

\\ TESTING DMAX DMIN
: test-dmax
  T{  1.  2. DMAX -> 2. }T
  T{  1.  0. DMAX -> 1. }T
  T{  1. -1. DMAX -> 1. }T
  T{  1.  1. DMAX -> 1. }T
  T{  0.  1. DMAX -> 1. }T
  T{  0. -1. DMAX -> 0. }T
  T{ -1.  1. DMAX -> 1. }T
  T{ -1. -2. DMAX -> -1. }T
  T{ MAX-2INT HI-2INT  DMAX -> MAX-2INT }T
  T{ MAX-2INT MIN-2INT DMAX -> MAX-2INT }T
  T{ MIN-2INT MAX-2INT DMAX -> MAX-2INT }T
  T{ MIN-2INT LO-2INT  DMAX -> LO-2INT  }T
  T{ MAX-2INT  1. DMAX -> MAX-2INT }T
  T{ MAX-2INT -1. DMAX -> MAX-2INT }T
  T{ MIN-2INT  1. DMAX ->  1. }T
  T{ MIN-2INT -1. DMAX -> -1. }T ;

: test-dmin
  T{  1.  2. DMIN ->  1. }T
  T{  1.  0. DMIN ->  0. }T
  T{  1. -1. DMIN -> -1. }T
  T{  1.  1. DMIN ->  1. }T
  T{  0.  1. DMIN ->  0. }T
  T{  0. -1. DMIN -> -1. }T
  T{ -1.  1. DMIN -> -1. }T
  T{ -1. -2. DMIN -> -2. }T
  T{ MAX-2INT HI-2INT  DMIN -> HI-2INT  }T
  T{ MAX-2INT MIN-2INT DMIN -> MIN-2INT }T
  T{ MIN-2INT MAX-2INT DMIN -> MIN-2INT }T
  T{ MIN-2INT LO-2INT  DMIN -> MIN-2INT }T
  T{ MAX-2INT  1. DMIN ->  1. }T
  T{ MAX-2INT -1. DMIN -> -1. }T
  T{ MIN-2INT  1. DMIN -> MIN-2INT }T
  T{ MIN-2INT -1. DMIN -> MIN-2INT }T ;

\\ TESTING DABS   (D>S: this Forth has none)
: test-dabs
  T{  1. DABS -> 1. }T
  T{ -1. DABS -> 1. }T
  T{ MAX-2INT DABS -> MAX-2INT }T
  T{ MIN-2INT 1. D+ DABS -> MAX-2INT }T ;

\\ TESTING M+   (M*/: this Forth has none)
: test-m-plus
  T{ HI-2INT   1 M+ -> HI-2INT   1. D+ }T
  T{ MAX-2INT -1 M+ -> MAX-2INT -1. D+ }T
  T{ MIN-2INT  1 M+ -> MIN-2INT  1. D+ }T
  T{ LO-2INT  -1 M+ -> LO-2INT  -1. D+ }T ;
