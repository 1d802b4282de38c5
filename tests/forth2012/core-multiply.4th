\\ Core tests (core.fr): S>D * M* UM*.

\\ TESTING MULTIPLY: S>D * M* UM*
: test-s-to-d
  T{ 0 S>D -> 0 0 }T
  T{ 1 S>D -> 1 0 }T
  T{ 2 S>D -> 2 0 }T
  T{ -1 S>D -> -1 -1 }T
  T{ -2 S>D -> -2 -1 }T
  T{ MIN-INT S>D -> MIN-INT -1 }T
  T{ MAX-INT S>D -> MAX-INT 0 }T ;

: test-m-star
  T{ 0 0 M* -> 0 S>D }T
  T{ 0 1 M* -> 0 S>D }T
  T{ 1 0 M* -> 0 S>D }T
  T{ 1 2 M* -> 2 S>D }T
  T{ 2 1 M* -> 2 S>D }T
  T{ 3 3 M* -> 9 S>D }T
  T{ -3 3 M* -> -9 S>D }T
  T{ 3 -3 M* -> -9 S>D }T
  T{ -3 -3 M* -> 9 S>D }T
  T{ 0 MIN-INT M* -> 0 S>D }T
  T{ 1 MIN-INT M* -> MIN-INT S>D }T
  T{ 2 MIN-INT M* -> 0 1S }T
  T{ 0 MAX-INT M* -> 0 S>D }T
  T{ 1 MAX-INT M* -> MAX-INT S>D }T
  T{ 2 MAX-INT M* -> MAX-INT 1 LSHIFT 0 }T
  T{ MIN-INT MIN-INT M* -> 0 MSB 1 RSHIFT }T
  T{ MAX-INT MIN-INT M* -> MSB MSB 2/ }T
  T{ MAX-INT MAX-INT M* -> 1 MSB 2/ INVERT }T ;

: test-star
  T{ 0 0 * -> 0 }T                   \\ identities
  T{ 0 1 * -> 0 }T
  T{ 1 0 * -> 0 }T
  T{ 1 2 * -> 2 }T
  T{ 2 1 * -> 2 }T
  T{ 3 3 * -> 9 }T
  T{ -3 3 * -> -9 }T
  T{ 3 -3 * -> -9 }T
  T{ -3 -3 * -> 9 }T
  T{ MID-UINT+1 1 RSHIFT 2 * -> MID-UINT+1 }T
  T{ MID-UINT+1 2 RSHIFT 4 * -> MID-UINT+1 }T
  T{ MID-UINT+1 1 RSHIFT MID-UINT+1 OR 2 * -> MID-UINT+1 }T ;

: test-um-star
  T{ 0 0 UM* -> 0 0 }T
  T{ 0 1 UM* -> 0 0 }T
  T{ 1 0 UM* -> 0 0 }T
  T{ 1 2 UM* -> 2 0 }T
  T{ 2 1 UM* -> 2 0 }T
  T{ 3 3 UM* -> 9 0 }T
  T{ MID-UINT+1 1 RSHIFT 2 UM* -> MID-UINT+1 0 }T
  T{ MID-UINT+1 2 UM* -> 0 1 }T
  T{ MID-UINT+1 4 UM* -> 0 2 }T
  T{ 1S 2 UM* -> 1S 1 LSHIFT 1 }T
  T{ MAX-UINT MAX-UINT UM* -> 1 1 INVERT }T ;
