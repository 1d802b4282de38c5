\\ A 10x10 multiplication table
VARIABLE result ALLOT 98
: init ;
\\ ---- kernel
: kernel 10 0 DO 10 0 DO J 1+ I 1+ * result J 10 * I + + C! LOOP LOOP ;
