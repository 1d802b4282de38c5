USE16BIT
\\ The Forth-2012 test suite, ported to run on the chip in 16-bit cells:
\\ what every file of the port shares. Each file of the port is built
\\ with this one before it, as one program with mirtolanc --test (see
\\ README.md).
\\
\\ The suite computes its constants at the top level (0 INVERT CONSTANT
\\ 1S); this Forth has no interpreter while it compiles, so they are
\\ colon definitions that compute the same values when a test runs.

: 0S 0 ;
: 1S 0 INVERT ;
: MSB 1S 1 RSHIFT INVERT ;
: MAX-UINT 0 INVERT ;
: MAX-INT 0 INVERT 1 RSHIFT ;
: MIN-INT 0 INVERT 1 RSHIFT INVERT ;
: MID-UINT 0 INVERT 1 RSHIFT ;
: MID-UINT+1 0 INVERT 1 RSHIFT INVERT ;
: <FALSE> 0S ;
: <TRUE> 1S ;

\\ Words the suite's tests lean on that this Forth lacks, in Forth: an
\\ address is one cell of two bytes, a character one byte.
: CELL+ 2 + ;
: CELLS 2* ;
: CHAR+ 1+ ;
: CHARS ;

\\ ( addr1 u1 addr2 u2 -- flag ) the suite's S=: two strings in RAM are equal.
: S= ROT OVER = IF
    0 ?DO OVER I + C@ OVER I + C@ <> IF 2DROP UNLOOP FALSE EXIT THEN LOOP 2DROP TRUE
  ELSE 2DROP DROP FALSE THEN ;
\\ ( addr u faddr u2 -- flag ) the same for a string in RAM and a text of
\\ S" , which lies in flash.
: S=P ROT OVER = IF
    0 ?DO OVER I + C@ OVER I + C@P <> IF 2DROP UNLOOP FALSE EXIT THEN LOOP 2DROP TRUE
  ELSE 2DROP DROP FALSE THEN ;

\\ The constants of the double-number tests (doubletest.fth); the suite's
\\ 2CONSTANTs are colon definitions too.
: 1SD 0 INVERT ;
: MAX-INTD 1SD 1 RSHIFT ;            \\ 01...1
: MIN-INTD MAX-INTD INVERT ;         \\ 10...0
: HI-INT MAX-INTD 2/ ;               \\ 001...1
: LO-INT MIN-INTD 2/ ;               \\ 110...1
: MAX-2INT 1SD MAX-INTD ;            \\ 01...1
: MIN-2INT 0 MIN-INTD ;              \\ 10...0
: HI-2INT MAX-2INT 2/ ;              \\ 001...1
: LO-2INT MIN-2INT 2/ ;              \\ 110...0
