\\ Fibonacci numbers 1 to 13, iterative, and the greatest common divisors
\\ of three pairs by Euclid
VARIABLE result ALLOT 14
VARIABLE pairs ALLOT 4
: init 221 pairs C! 119 pairs 1+ C! 233 pairs 2 + C! 144 pairs 3 + C!
  252 pairs 4 + C! 198 pairs 5 + C! ;
\\ ---- kernel
: fib ( n -- f ) 0 1 ROT 0 DO SWAP OVER + LOOP DROP ;
: gcd ( a b -- g ) BEGIN DUP WHILE SWAP OVER MOD REPEAT DROP ;
: kernel 13 0 DO I 1+ fib result I + C! LOOP
  3 0 DO pairs I 2* + DUP C@ SWAP 1+ C@ gcd result I 13 + + C! LOOP ;
