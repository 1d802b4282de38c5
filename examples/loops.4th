\\ Loops and CASE, for any device: leaves 55 6 10 20 99 on the data stack
\\ and the factorials 1 2 6 24 120 in the table facts.
VARIABLE facts ALLOT 4   \\ five bytes

\\ sum of 1 to n
: sum ( n -- sum ) 0 SWAP 1+ 1 DO I + LOOP ;

\\ how many odd numbers lie below n
: odds ( n -- count ) 0 SWAP 0 DO I 1 AND IF 1+ THEN LOOP ;

: fact ( n -- n! ) 1 SWAP 1+ 1 DO I * LOOP ;

\\ an address is two cells, so adding to it adds to the low byte
: table 5 0 DO I 1+ fact facts I + C! LOOP ;

: sel ( n -- m ) CASE 1 OF 10 ENDOF 2 OF 20 ENDOF DEFAULT 99 ENDCASE ;

: main 10 sum 12 odds 1 sel 2 sel 3 sel table ;
