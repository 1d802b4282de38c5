\\ Double-number tests (doubletest.fth): D0< D0= D2* D2/ D< D= DU<.

\\ TESTING D0< D0=
: test-d-zero
  T{ 0. D0< -> FALSE }T
  T{ 1. D0< -> FALSE }T
  T{ MIN-INTD 0 D0< -> FALSE }T
  T{ 0 MAX-INTD D0< -> FALSE }T
  T{ MAX-2INT  D0< -> FALSE }T
  T{ -1. D0< -> TRUE }T
  T{ MIN-2INT D0< -> TRUE }T
  T{ 1. D0= -> FALSE }T
  T{ MIN-INTD 0 D0= -> FALSE }T
  T{ MAX-2INT  D0= -> FALSE }T
  T{ -1 MAX-INTD D0= -> FALSE }T
  T{ 0. D0= -> TRUE }T
  T{ -1. D0= -> FALSE }T
  T{ 0 MIN-INTD D0= -> FALSE }T ;

\\ TESTING D2* D2/
: test-d-two-star-slash
  T{ 0. D2* -> 0. D2* }T
  T{ MIN-INTD 0 D2* -> 0 1 }T
  T{ HI-2INT D2* -> MAX-2INT 1. D- }T
  T{ LO-2INT D2* -> MIN-2INT }T
  T{ 0. D2/ -> 0. }T
  T{ 1. D2/ -> 0. }T
  T{ 0 1 D2/ -> MIN-INTD 0 }T
  T{ MAX-2INT D2/ -> HI-2INT }T
  T{ -1. D2/ -> -1. }T
  T{ MIN-2INT D2/ -> LO-2INT }T ;

\\ TESTING D< D=
: test-d-less
  T{  0.  1. D< -> TRUE  }T
  T{  0.  0. D< -> FALSE }T
  T{  1.  0. D< -> FALSE }T
  T{ -1.  1. D< -> TRUE  }T
  T{ -1.  0. D< -> TRUE  }T
  T{ -2. -1. D< -> TRUE  }T
  T{ -1. -2. D< -> FALSE }T
  T{ 0 1   1. D< -> FALSE }T
  T{ 1.  0 1  D< -> TRUE  }T
  T{ 0 -1 1 -2 D< -> FALSE }T
  T{ 1 -2 0 -1 D< -> TRUE  }T
  T{ -1. MAX-2INT D< -> TRUE }T
  T{ MIN-2INT MAX-2INT D< -> TRUE }T
  T{ MAX-2INT -1. D< -> FALSE }T
  T{ MAX-2INT MIN-2INT D< -> FALSE }T
  T{ MAX-2INT 2DUP -1. D+ D< -> FALSE }T
  T{ MIN-2INT 2DUP  1. D+ D< -> TRUE  }T
  T{ MAX-INTD S>D 2DUP 1. D+ D< -> TRUE }T ;   \\ D< acts on the high cells

: test-d-equals
  T{ -1. -1. D= -> TRUE  }T
  T{ -1.  0. D= -> FALSE }T
  T{ -1.  1. D= -> FALSE }T
  T{  0. -1. D= -> FALSE }T
  T{  0.  0. D= -> TRUE  }T
  T{  0.  1. D= -> FALSE }T
  T{  1. -1. D= -> FALSE }T
  T{  1.  0. D= -> FALSE }T
  T{  1.  1. D= -> TRUE  }T
  T{ 0 -1 0 -1 D= -> TRUE  }T
  T{ 0 -1 0  0 D= -> FALSE }T
  T{ 0 -1 0  1 D= -> FALSE }T
  T{ 0  0 0 -1 D= -> FALSE }T
  T{ 0  0 0  0 D= -> TRUE  }T
  T{ 0  0 0  1 D= -> FALSE }T
  T{ 0  1 0 -1 D= -> FALSE }T
  T{ 0  1 0  0 D= -> FALSE }T
  T{ 0  1 0  1 D= -> TRUE  }T
  T{ MAX-2INT MIN-2INT D= -> FALSE }T
  T{ MAX-2INT 0. D= -> FALSE }T
  T{ MAX-2INT MAX-2INT D= -> TRUE }T
  T{ MAX-2INT HI-2INT  D= -> FALSE }T
  T{ MAX-2INT MIN-2INT D= -> FALSE }T
  T{ MIN-2INT MIN-2INT D= -> TRUE }T
  T{ MIN-2INT LO-2INT  D=  -> FALSE }T
  T{ MIN-2INT MAX-2INT D= -> FALSE }T ;

\\ TESTING DU<   (a double-number extension word)
: test-d-u-less
  T{  1.  1. DU< -> FALSE }T
  T{  1. -1. DU< -> TRUE  }T
  T{ -1.  1. DU< -> FALSE }T
  T{ -1. -2. DU< -> FALSE }T
  T{ 0 1   1. DU< -> FALSE }T
  T{ 1.  0 1  DU< -> TRUE  }T
  T{ 0 -1 1 -2 DU< -> FALSE }T
  T{ 1 -2 0 -1 DU< -> TRUE  }T
  T{ MAX-2INT HI-2INT  DU< -> FALSE }T
  T{ HI-2INT  MAX-2INT DU< -> TRUE  }T
  T{ MAX-2INT MIN-2INT DU< -> TRUE }T
  T{ MIN-2INT MAX-2INT DU< -> FALSE }T
  T{ MIN-2INT LO-2INT  DU< -> TRUE }T ;
