\\ Sieve of Eratosthenes: the primes below 128, counted
VARIABLE result
VARIABLE flags ALLOT 127
: init ;
\\ ---- kernel
: flag@ ( i -- c ) flags ROT M+ C@ ;
: clear ( i -- ) flags ROT M+ 0 -ROT C! ;
: kernel flags 128 1 FILL
  12 2 DO I flag@ IF 128 I DUP * DO I clear J +LOOP THEN LOOP
  0 128 2 DO I flag@ IF 1+ THEN LOOP result C! ;
