\ Expected stacks of the double cases of cases.txt, computed by gforth with
\ its own wide cells, masked to 16 and 8 bits. Each line is "name: cells",
\ bottom first; mirtolan_simtest --check-stacks compares them with the
\ cases' ">>> stack" lines.
: hl. ( n -- ) 65535 and dup 8 rshift . 255 and . ;   \ a double as hi lo
: b. ( n -- ) 255 and . ;
: s16 ( n -- n ) 65535 and dup 32767 > if 65536 - then ;
: fl. ( flag -- ) if 255 else 0 then . ;
: case: ( "name" -- ) parse-name type ." : " ;

case: d-plus 1000 2345 + hl. 65535 1 + hl. -1 -1 + hl. -32768 -1 + hl. 300 -300 + hl. 12345 54321 + hl. cr
case: d-minus 1000 2345 - hl. 65535 1 - hl. -1 -1 - hl. -32768 -1 - hl. 300 -300 - hl. 12345 54321 - hl. cr
: values 0 1 -1 256 -256 32767 -32768 1000 ;
0 value op
: each8 ( xt -- ) to op values 8 0 do 7 i - pick op execute loop 8 0 do drop loop ;
case: dnegate :noname negate hl. ; each8 cr
case: dabs :noname s16 abs hl. ; each8 cr
case: d-two-star :noname 2* hl. ; each8 cr
case: d-two-slash :noname s16 2/ hl. ; each8 cr
: pairs 1000 2345  2345 1000  -1 1  1 -1  500 500  -32768 32767  256 255 ;
: each7 ( xt -- ) to op pairs 7 0 do 13 i 2* - pick 13 i 2* - pick op execute loop 14 0 do drop loop ;
case: d-equal :noname s16 swap s16 = fl. ; each7 cr
case: d-less :noname s16 swap s16 swap < fl. ; each7 cr
case: du-less :noname 65535 and swap 65535 and swap u< fl. ; each7 cr
case: dmin :noname s16 swap s16 min hl. ; each7 cr
case: dmax :noname s16 swap s16 max hl. ; each7 cr
: z. ( n -- ) dup 65535 and 0= fl. s16 0< fl. ;
case: d-zero-equal-less 0 z. 1 z. 256 z. -1 z. -32768 z. 32767 z. cr
case: m-plus 1000 5 + hl. 1000 -5 + hl. 255 1 + hl. 65535 1 + hl. 0 -1 + hl. 300 127 + hl. cr
case: s-to-d 0 hl. 5 hl. -5 hl. 127 hl. -128 hl. cr
case: um-star 255 255 * hl. 200 100 * hl. 0 77 * hl. 16 16 * hl. 3 5 * hl. cr
case: m-star -128 -128 * hl. -1 1 * hl. 100 -100 * hl. 127 127 * hl. -7 9 * hl. 0 -5 * hl. cr
case: um-slash-mod 1000 7 /mod swap b. b. 65279 255 /mod swap b. b. 0 3 /mod swap b. b. 2550 10 /mod swap b. b. 255 1 /mod swap b. b. cr
: */t ( a b c -- q ) >r * s>d r> sm/rem nip ;
: */modt ( a b c -- r q ) >r * s>d r> sm/rem ;
case: star-slash 100 100 7 */t b. -100 100 7 */t b. 100 -100 -7 */t b. 120 120 120 */t b. -128 127 100 */t b. 50 3 -4 */t b. cr
case: star-slash-mod 100 100 7 */modt swap b. b. -100 100 7 */modt swap b. b. 100 -100 -7 */modt swap b. b. 120 120 120 */modt swap b. b. -128 127 100 */modt swap b. b. 50 3 -4 */modt swap b. b. cr
bye
