\\ Core tests (core.fr): pictured numeric output, FILL, MOVE. The
\\ pictures are decimal (this Forth has no BASE), so GP5 to GP7 keep
\\ their decimal parts. #> leaves the picture in RAM; S" texts lie in
\\ flash, so the pictures are compared with S=P.

\\ TESTING <# # #S #> HOLD SIGN
: GP1 <# 'A HOLD 'B HOLD 0 0 #> S" BA" S=P ;
: GP2 <# -1 SIGN 0 SIGN -1 SIGN 0 0 #> S" --" S=P ;
: GP3 <# 1 0 # # #> S" 01" S=P ;
: GP4 <# 1 0 #S #> S" 1" S=P ;
\\ GP6 in decimal: the largest double, every digit
: GP6 MAX-UINT MAX-UINT <# #S #> S" 4294967295" S=P ;
\\ GP7 in decimal: each digit alone
: GP7 <TRUE> 10 0 DO I 0 <# #S #> 1 = SWAP C@ I 48 + = AND AND LOOP ;
: test-pictured-output
  T{ GP1 -> <TRUE> }T
  T{ GP2 -> <TRUE> }T
  T{ GP3 -> <TRUE> }T
  T{ GP4 -> <TRUE> }T
  T{ GP6 -> <TRUE> }T
  T{ GP7 -> <TRUE> }T ;

\\ TESTING FILL MOVE
CREATE FBUF $00 C, $00 C, $00 C,
CREATE SBUF $12 C, $34 C, $56 C,
: SEEBUF FBUF C@  FBUF CHAR+ C@  FBUF CHAR+ CHAR+ C@ ;
: test-fill-move
  T{ FBUF 0 $20 FILL -> }T
  T{ SEEBUF -> $00 $00 $00 }T
  T{ FBUF 1 $20 FILL -> }T
  T{ SEEBUF -> $20 $00 $00 }T
  T{ FBUF 3 $20 FILL -> }T
  T{ SEEBUF -> $20 $20 $20 }T
  T{ FBUF FBUF 3 CHARS MOVE -> }T    \\ bizarre special case
  T{ SEEBUF -> $20 $20 $20 }T
  T{ SBUF FBUF 0 CHARS MOVE -> }T
  T{ SEEBUF -> $20 $20 $20 }T
  T{ SBUF FBUF 1 CHARS MOVE -> }T
  T{ SEEBUF -> $12 $20 $20 }T
  T{ SBUF FBUF 3 CHARS MOVE -> }T
  T{ SEEBUF -> $12 $34 $56 }T
  T{ FBUF FBUF CHAR+ 2 CHARS MOVE -> }T
  T{ SEEBUF -> $12 $12 $34 }T
  T{ FBUF CHAR+ FBUF 2 CHARS MOVE -> }T
  T{ SEEBUF -> $12 $34 $34 }T ;
