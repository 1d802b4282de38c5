$init:
$	rcall	setup
\\ a comment line
: 1+x 1+ 1+ ( stack -- ) $ rcall 1+
  \\ inside
;
USEZCALL
: z dup drop ;
USERCALL
: r THEN ENDOF ENDCASE DEFAULT IF ;
