\\ Sieve of Eratosthenes: the primes below 128, counted
VARIABLE result
VARIABLE flags ALLOT 126
: init ;
\\ ---- kernel
: kernel flags 128 1 FILL
  12 2 DO flags I + C@ IF flags 128 + flags I DUP * + DO 0 I C! J +LOOP THEN LOOP
  0 flags 128 + flags 2 + DO I C@ IF 1+ THEN LOOP result C! ;
