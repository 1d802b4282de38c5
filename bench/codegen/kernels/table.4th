\\ A 10x10 multiplication table
VARIABLE result ALLOT 99
: init ;
\\ ---- kernel
: kernel 10 0 DO 10 0 DO J 1+ I 1+ * result J 10 * I + M+ C! LOOP LOOP ;
