\\ A triple DO loop: the triples of 0 to 9 whose sum is a multiple of 4,
\\ counted (the same text in both cell sizes)
VARIABLE result
: init ;
\\ ---- kernel
: kernel 0 10 0 DO I 10 0 DO 10 0 DO DUP I + J + 3 AND 0= IF SWAP 1+ SWAP THEN LOOP LOOP DROP LOOP result C! ;
