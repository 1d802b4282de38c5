\\ Core tests (core.fr): FM/MOD SM/REM UM/MOD.

\\ TESTING DIVIDE: FM/MOD SM/REM UM/MOD
: test-fm-mod
  T{ 0 S>D 1 FM/MOD -> 0 0 }T
  T{ 1 S>D 1 FM/MOD -> 0 1 }T
  T{ 2 S>D 1 FM/MOD -> 0 2 }T
  T{ -1 S>D 1 FM/MOD -> 0 -1 }T
  T{ -2 S>D 1 FM/MOD -> 0 -2 }T
  T{ 0 S>D -1 FM/MOD -> 0 0 }T
  T{ 1 S>D -1 FM/MOD -> 0 -1 }T
  T{ 2 S>D -1 FM/MOD -> 0 -2 }T
  T{ -1 S>D -1 FM/MOD -> 0 1 }T
  T{ -2 S>D -1 FM/MOD -> 0 2 }T
  T{ 2 S>D 2 FM/MOD -> 0 1 }T
  T{ -1 S>D -1 FM/MOD -> 0 1 }T
  T{ -2 S>D -2 FM/MOD -> 0 1 }T
  T{  7 S>D  3 FM/MOD -> 1 2 }T
  T{  7 S>D -3 FM/MOD -> -2 -3 }T
  T{ -7 S>D  3 FM/MOD -> 2 -3 }T
  T{ -7 S>D -3 FM/MOD -> -1 2 }T
  T{ MAX-INT S>D 1 FM/MOD -> 0 MAX-INT }T
  T{ MIN-INT S>D 1 FM/MOD -> 0 MIN-INT }T
  T{ MAX-INT S>D MAX-INT FM/MOD -> 0 1 }T
  T{ MIN-INT S>D MIN-INT FM/MOD -> 0 1 }T
  T{ 1S 1 4 FM/MOD -> 3 MAX-INT }T
  T{ 1 MIN-INT M* 1 FM/MOD -> 0 MIN-INT }T
  T{ 1 MIN-INT M* MIN-INT FM/MOD -> 0 1 }T
  T{ 2 MIN-INT M* 2 FM/MOD -> 0 MIN-INT }T
  T{ 2 MIN-INT M* MIN-INT FM/MOD -> 0 2 }T
  T{ 1 MAX-INT M* 1 FM/MOD -> 0 MAX-INT }T
  T{ 1 MAX-INT M* MAX-INT FM/MOD -> 0 1 }T
  T{ 2 MAX-INT M* 2 FM/MOD -> 0 MAX-INT }T
  T{ 2 MAX-INT M* MAX-INT FM/MOD -> 0 2 }T
  T{ MIN-INT MIN-INT M* MIN-INT FM/MOD -> 0 MIN-INT }T
  T{ MIN-INT MAX-INT M* MIN-INT FM/MOD -> 0 MAX-INT }T
  T{ MIN-INT MAX-INT M* MAX-INT FM/MOD -> 0 MIN-INT }T
  T{ MAX-INT MAX-INT M* MAX-INT FM/MOD -> 0 MAX-INT }T ;

: test-sm-rem
  T{ 0 S>D 1 SM/REM -> 0 0 }T
  T{ 1 S>D 1 SM/REM -> 0 1 }T
  T{ 2 S>D 1 SM/REM -> 0 2 }T
  T{ -1 S>D 1 SM/REM -> 0 -1 }T
  T{ -2 S>D 1 SM/REM -> 0 -2 }T
  T{ 0 S>D -1 SM/REM -> 0 0 }T
  T{ 1 S>D -1 SM/REM -> 0 -1 }T
  T{ 2 S>D -1 SM/REM -> 0 -2 }T
  T{ -1 S>D -1 SM/REM -> 0 1 }T
  T{ -2 S>D -1 SM/REM -> 0 2 }T
  T{ 2 S>D 2 SM/REM -> 0 1 }T
  T{ -1 S>D -1 SM/REM -> 0 1 }T
  T{ -2 S>D -2 SM/REM -> 0 1 }T
  T{  7 S>D  3 SM/REM -> 1 2 }T
  T{  7 S>D -3 SM/REM -> 1 -2 }T
  T{ -7 S>D  3 SM/REM -> -1 -2 }T
  T{ -7 S>D -3 SM/REM -> -1 2 }T
  T{ MAX-INT S>D 1 SM/REM -> 0 MAX-INT }T
  T{ MIN-INT S>D 1 SM/REM -> 0 MIN-INT }T
  T{ MAX-INT S>D MAX-INT SM/REM -> 0 1 }T
  T{ MIN-INT S>D MIN-INT SM/REM -> 0 1 }T
  T{ 1S 1 4 SM/REM -> 3 MAX-INT }T
  T{ 2 MIN-INT M* 2 SM/REM -> 0 MIN-INT }T
  T{ 2 MIN-INT M* MIN-INT SM/REM -> 0 2 }T
  T{ 2 MAX-INT M* 2 SM/REM -> 0 MAX-INT }T
  T{ 2 MAX-INT M* MAX-INT SM/REM -> 0 2 }T
  T{ MIN-INT MIN-INT M* MIN-INT SM/REM -> 0 MIN-INT }T
  T{ MIN-INT MAX-INT M* MIN-INT SM/REM -> 0 MAX-INT }T
  T{ MIN-INT MAX-INT M* MAX-INT SM/REM -> 0 MIN-INT }T
  T{ MAX-INT MAX-INT M* MAX-INT SM/REM -> 0 MAX-INT }T ;

: test-um-mod
  T{ 0 0 1 UM/MOD -> 0 0 }T
  T{ 1 0 1 UM/MOD -> 0 1 }T
  T{ 1 0 2 UM/MOD -> 1 0 }T
  T{ 3 0 2 UM/MOD -> 1 1 }T
  T{ MAX-UINT 2 UM* 2 UM/MOD -> 0 MAX-UINT }T
  T{ MAX-UINT 2 UM* MAX-UINT UM/MOD -> 0 2 }T
  T{ MAX-UINT MAX-UINT UM* MAX-UINT UM/MOD -> 0 MAX-UINT }T ;
