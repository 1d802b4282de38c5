# Writes a Forth source of N colon definitions (awk -v n=N -f gen.awk) that
# both mirtolanc and gforth compile: every definition calls earlier ones and
# uses one of the control structures, so the whole source covers them all.
# Only words that bench.arch holds (and gforth knows) are used.
function w(k) { return "w" k }
BEGIN {
    if (n < 1) n = 1
    print "( benchmark source: " n " colon definitions )"
    print "VARIABLE v0"
    print ": w0 ( n -- n ) DUP DROP ;"
    for (i = 1; i < n; i++) {
        a = w(i - 1); b = w(int(i / 2)); c = w(int(i / 3))
        s = i % 8
        if (s == 0)      print ": " w(i) " ( n -- n ) " a " IF " b " 1+ ELSE " c " 1- THEN ;"
        else if (s == 1) print ": " w(i) " BEGIN " a " DUP 0= UNTIL " b " ;"
        else if (s == 2) print ": " w(i) " BEGIN " a " WHILE " b " REPEAT 7 ;"
        else if (s == 3) print ": " w(i) " 10 0 DO I " a " + LOOP " b " ;"
        else if (s == 4) print ": " w(i) " DUP CASE 1 OF " a " ENDOF 2 OF " b " ENDOF 3 OF " c " ENDOF ENDCASE ;"
        else if (s == 5) print ": " w(i) " 100 0 DO " a " 2 +LOOP BEGIN " b " AGAIN ;"
        else if (s == 6) print ": " w(i) " " a " v0 ! v0 @ OVER SWAP - " b " AND ;"
        else {
            # a definition that runs on over two lines, with nested structures
            print ": " w(i) " " a " IF " b " IF " c " THEN"
            print "  ELSE 5 0 DO " b " LOOP THEN ;"
        }
        if (i % 1000 == 0) print "VARIABLE v" i
    }
}
