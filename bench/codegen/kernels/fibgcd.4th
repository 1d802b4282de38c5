\\ Fibonacci numbers 1 to 13, iterative, and the greatest common divisors
\\ of three pairs by Euclid
VARIABLE result ALLOT 15
VARIABLE pairs ALLOT 5
: init 221 pairs C! 119 pairs 1 M+ C! 233 pairs 2 M+ C! 144 pairs 3 M+ C!
  252 pairs 4 M+ C! 198 pairs 5 M+ C! ;
\\ ---- kernel
: fib ( n -- f ) 0 1 ROT 0 DO SWAP OVER + LOOP DROP ;
: gcd ( a b -- g ) BEGIN DUP WHILE SWAP OVER MOD REPEAT DROP ;
: kernel 13 0 DO I 1+ fib result I M+ C! LOOP
  3 0 DO pairs I 2* M+ C@ pairs I 2* 1+ M+ C@ gcd result I 13 + M+ C! LOOP ;
