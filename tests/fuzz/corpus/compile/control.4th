: ready ;
: on ;
: off ;
: blink ready IF on ELSE off THEN ;
: wait BEGIN ready WHILE on REPEAT ;
: color CASE 1 OF on ENDOF 2 OF off ENDOF DEFAULT ready ENDCASE ;
: pulse 10 0 DO on LOOP 8 0 DO off 2 +LOOP ;
: spin BEGIN on AGAIN ;
: count BEGIN dup 0= UNTIL ;
