\\ Bubble sort of 16 bytes, unsigned, in place (16-bit cells: the inner
\\ loop runs over the addresses)
VARIABLE result ALLOT 14
: init 7 16 0 DO 5 * 3 + 255 AND DUP result I + C! LOOP DROP ;
\\ ---- kernel
: kernel 15 0 DO result 15 I - OVER + SWAP DO I C@ I 1+ C@ 2DUP U> IF I C! I 1+ C! ELSE 2DROP THEN LOOP LOOP ;
