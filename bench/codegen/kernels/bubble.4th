\\ Bubble sort of 16 bytes, unsigned, in place (8-bit cells: an address is
\\ two cells, so the bytes are reached by their index)
VARIABLE result ALLOT 15
: init 7 16 0 DO 5 * 3 + DUP result I M+ C! LOOP DROP ;
\\ ---- kernel
: byte@ ( i -- c ) result ROT M+ C@ ;
: byte! ( c i -- ) result ROT M+ C! ;
: kernel 15 0 DO 15 I - 0 DO I byte@ I 1+ byte@ 2DUP U> IF I byte! I 1+ byte! ELSE 2DROP THEN LOOP LOOP ;
