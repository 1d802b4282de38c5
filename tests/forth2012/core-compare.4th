\\ Core tests (core.fr): comparisons.

\\ TESTING COMPARISONS: 0= = 0< < > U< MIN MAX
: test-zero-equals
  T{ 0 0= -> <TRUE> }T
  T{ 1 0= -> <FALSE> }T
  T{ 2 0= -> <FALSE> }T
  T{ -1 0= -> <FALSE> }T
  T{ MAX-UINT 0= -> <FALSE> }T
  T{ MIN-INT 0= -> <FALSE> }T
  T{ MAX-INT 0= -> <FALSE> }T ;

: test-equals
  T{ 0 0 = -> <TRUE> }T
  T{ 1 1 = -> <TRUE> }T
  T{ -1 -1 = -> <TRUE> }T
  T{ 1 0 = -> <FALSE> }T
  T{ -1 0 = -> <FALSE> }T
  T{ 0 1 = -> <FALSE> }T
  T{ 0 -1 = -> <FALSE> }T ;

: test-zero-less
  T{ 0 0< -> <FALSE> }T
  T{ -1 0< -> <TRUE> }T
  T{ MIN-INT 0< -> <TRUE> }T
  T{ 1 0< -> <FALSE> }T
  T{ MAX-INT 0< -> <FALSE> }T ;

: test-less
  T{ 0 1 < -> <TRUE> }T
  T{ 1 2 < -> <TRUE> }T
  T{ -1 0 < -> <TRUE> }T
  T{ -1 1 < -> <TRUE> }T
  T{ MIN-INT 0 < -> <TRUE> }T
  T{ MIN-INT MAX-INT < -> <TRUE> }T
  T{ 0 MAX-INT < -> <TRUE> }T
  T{ 0 0 < -> <FALSE> }T
  T{ 1 1 < -> <FALSE> }T
  T{ 1 0 < -> <FALSE> }T
  T{ 2 1 < -> <FALSE> }T
  T{ 0 -1 < -> <FALSE> }T
  T{ 1 -1 < -> <FALSE> }T
  T{ 0 MIN-INT < -> <FALSE> }T
  T{ MAX-INT MIN-INT < -> <FALSE> }T
  T{ MAX-INT 0 < -> <FALSE> }T ;

: test-greater
  T{ 0 1 > -> <FALSE> }T
  T{ 1 2 > -> <FALSE> }T
  T{ -1 0 > -> <FALSE> }T
  T{ -1 1 > -> <FALSE> }T
  T{ MIN-INT 0 > -> <FALSE> }T
  T{ MIN-INT MAX-INT > -> <FALSE> }T
  T{ 0 MAX-INT > -> <FALSE> }T
  T{ 0 0 > -> <FALSE> }T
  T{ 1 1 > -> <FALSE> }T
  T{ 1 0 > -> <TRUE> }T
  T{ 2 1 > -> <TRUE> }T
  T{ 0 -1 > -> <TRUE> }T
  T{ 1 -1 > -> <TRUE> }T
  T{ 0 MIN-INT > -> <TRUE> }T
  T{ MAX-INT MIN-INT > -> <TRUE> }T
  T{ MAX-INT 0 > -> <TRUE> }T ;

: test-u-less
  T{ 0 1 U< -> <TRUE> }T
  T{ 1 2 U< -> <TRUE> }T
  T{ 0 MID-UINT U< -> <TRUE> }T
  T{ 0 MAX-UINT U< -> <TRUE> }T
  T{ MID-UINT MAX-UINT U< -> <TRUE> }T
  T{ 0 0 U< -> <FALSE> }T
  T{ 1 1 U< -> <FALSE> }T
  T{ 1 0 U< -> <FALSE> }T
  T{ 2 1 U< -> <FALSE> }T
  T{ MID-UINT 0 U< -> <FALSE> }T
  T{ MAX-UINT 0 U< -> <FALSE> }T
  T{ MAX-UINT MID-UINT U< -> <FALSE> }T ;

: test-min
  T{ 0 1 MIN -> 0 }T
  T{ 1 2 MIN -> 1 }T
  T{ -1 0 MIN -> -1 }T
  T{ -1 1 MIN -> -1 }T
  T{ MIN-INT 0 MIN -> MIN-INT }T
  T{ MIN-INT MAX-INT MIN -> MIN-INT }T
  T{ 0 MAX-INT MIN -> 0 }T
  T{ 0 0 MIN -> 0 }T
  T{ 1 1 MIN -> 1 }T
  T{ 1 0 MIN -> 0 }T
  T{ 2 1 MIN -> 1 }T
  T{ 0 -1 MIN -> -1 }T
  T{ 1 -1 MIN -> -1 }T
  T{ 0 MIN-INT MIN -> MIN-INT }T
  T{ MAX-INT MIN-INT MIN -> MIN-INT }T
  T{ MAX-INT 0 MIN -> 0 }T ;

: test-max
  T{ 0 1 MAX -> 1 }T
  T{ 1 2 MAX -> 2 }T
  T{ -1 0 MAX -> 0 }T
  T{ -1 1 MAX -> 1 }T
  T{ MIN-INT 0 MAX -> 0 }T
  T{ MIN-INT MAX-INT MAX -> MAX-INT }T
  T{ 0 MAX-INT MAX -> MAX-INT }T
  T{ 0 0 MAX -> 0 }T
  T{ 1 1 MAX -> 1 }T
  T{ 1 0 MAX -> 1 }T
  T{ 2 1 MAX -> 2 }T
  T{ 0 -1 MAX -> 0 }T
  T{ 1 -1 MAX -> 1 }T
  T{ 0 MIN-INT MAX -> 0 }T
  T{ MAX-INT MIN-INT MAX -> MAX-INT }T
  T{ MAX-INT 0 MAX -> MAX-INT }T ;
