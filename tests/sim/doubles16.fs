\ Expected stacks of the 16-bit double, multiply and divide cases of
\ cases.txt, computed by gforth with its own wide cells: a 16-bit double
\ (lo hi) is one gforth cell here, and the results are printed as 16-bit
\ cells, bottom first. mirtolan_simtest --check-stacks-with ... --cells 16
\ compares them with the cases' expected stacks.
: c. ( n -- ) 65535 and . ;
: dd. ( n -- ) dup c. 16 rshift c. ;          \ a double as lo hi
: fl. ( flag -- ) if -1 else 0 then c. ;
: s16 ( n -- n ) 65535 and dup 32767 > if 65536 - then ;
: u32 ( n -- u ) 4294967295 and ;
: d16 ( lo hi -- n ) 65535 and 16 lshift swap 65535 and or dup 2147483647 > if 4294967296 - then ;
: case: ( "name" -- ) parse-name type ." : " ;
\ A divisor of 0 or a quotient wider than 16 bits gives -1 -1.
: um/mod16 ( lo hi u -- ) >r 65535 and dup r@ u>= if 2drop rdrop -1 c. -1 c. exit then
  16 lshift swap 65535 and or r> /mod swap c. c. ;
\ Truncated and floored division of a double (one gforth cell) by a cell.
: wide? ( d n -- flag ) abs swap abs 16 rshift swap u>= ;   \ |d| / |n| beyond 16 bits
: sm/rem16 ( d n -- rem quot ) 2dup wide? if 2drop -1 -1 exit then >r s>d r> sm/rem ;
: fm/mod16 ( d n -- ) 2dup wide? if 2drop -1 c. -1 c. exit then >r s>d r> fm/mod swap c. c. ;
: sm/rem16. ( d n -- ) sm/rem16 swap c. c. ;
case: d16-negate 0 0 d16 negate dd. 1 0 d16 negate dd. -1 -1 d16 negate dd. 0 1 d16 negate dd. 65535 0 d16 negate dd. 0 -32768 d16 negate dd. -1 32767 d16 negate dd. 1000 0 d16 negate dd. -1000 -1 d16 negate dd. 0 -1 d16 negate dd. cr
case: d16-abs 0 0 d16 abs dd. 1 0 d16 abs dd. -1 -1 d16 abs dd. 0 1 d16 abs dd. 65535 0 d16 abs dd. 0 -32768 d16 abs dd. -1 32767 d16 abs dd. 1000 0 d16 abs dd. -1000 -1 d16 abs dd. 0 -1 d16 abs dd. cr
case: d16-two-star 0 0 d16 2* dd. 1 0 d16 2* dd. -1 -1 d16 2* dd. 0 1 d16 2* dd. 65535 0 d16 2* dd. 0 -32768 d16 2* dd. -1 32767 d16 2* dd. 1000 0 d16 2* dd. -1000 -1 d16 2* dd. 0 -1 d16 2* dd. cr
case: d16-two-slash 0 0 d16 2/ dd. 1 0 d16 2/ dd. -1 -1 d16 2/ dd. 0 1 d16 2/ dd. 65535 0 d16 2/ dd. 0 -32768 d16 2/ dd. -1 32767 d16 2/ dd. 1000 0 d16 2/ dd. -1000 -1 d16 2/ dd. 0 -1 d16 2/ dd. cr
case: d16-zero-equal 0 0 d16 0= fl. 1 0 d16 0= fl. -1 -1 d16 0= fl. 0 1 d16 0= fl. 65535 0 d16 0= fl. 0 -32768 d16 0= fl. -1 32767 d16 0= fl. 1000 0 d16 0= fl. -1000 -1 d16 0= fl. 0 -1 d16 0= fl. cr
case: d16-zero-less 0 0 d16 0< fl. 1 0 d16 0< fl. -1 -1 d16 0< fl. 0 1 d16 0< fl. 65535 0 d16 0< fl. 0 -32768 d16 0< fl. -1 32767 d16 0< fl. 1000 0 d16 0< fl. -1000 -1 d16 0< fl. 0 -1 d16 0< fl. cr
case: d16-plus 1000 0 d16 2345 0 d16 + dd. 65535 0 d16 1 0 d16 + dd. -1 -1 d16 1 0 d16 + dd. 0 -32768 d16 -1 -1 d16 + dd. 0 1 d16 65535 0 d16 + dd. -1 32767 d16 0 -32768 d16 + dd. 5 0 d16 5 0 d16 + dd. 0 -1 d16 0 1 d16 + dd. cr
case: d16-minus 1000 0 d16 2345 0 d16 - dd. 65535 0 d16 1 0 d16 - dd. -1 -1 d16 1 0 d16 - dd. 0 -32768 d16 -1 -1 d16 - dd. 0 1 d16 65535 0 d16 - dd. -1 32767 d16 0 -32768 d16 - dd. 5 0 d16 5 0 d16 - dd. 0 -1 d16 0 1 d16 - dd. cr
case: d16-equal 1000 0 d16 2345 0 d16 = fl. 65535 0 d16 1 0 d16 = fl. -1 -1 d16 1 0 d16 = fl. 0 -32768 d16 -1 -1 d16 = fl. 0 1 d16 65535 0 d16 = fl. -1 32767 d16 0 -32768 d16 = fl. 5 0 d16 5 0 d16 = fl. 0 -1 d16 0 1 d16 = fl. cr
case: d16-less 1000 0 d16 2345 0 d16 < fl. 65535 0 d16 1 0 d16 < fl. -1 -1 d16 1 0 d16 < fl. 0 -32768 d16 -1 -1 d16 < fl. 0 1 d16 65535 0 d16 < fl. -1 32767 d16 0 -32768 d16 < fl. 5 0 d16 5 0 d16 < fl. 0 -1 d16 0 1 d16 < fl. cr
case: d16-u-less 1000 0 d16 2345 0 d16 u32 swap u32 swap u< fl. 65535 0 d16 1 0 d16 u32 swap u32 swap u< fl. -1 -1 d16 1 0 d16 u32 swap u32 swap u< fl. 0 -32768 d16 -1 -1 d16 u32 swap u32 swap u< fl. 0 1 d16 65535 0 d16 u32 swap u32 swap u< fl. -1 32767 d16 0 -32768 d16 u32 swap u32 swap u< fl. 5 0 d16 5 0 d16 u32 swap u32 swap u< fl. 0 -1 d16 0 1 d16 u32 swap u32 swap u< fl. cr
case: d16-min 1000 0 d16 2345 0 d16 min dd. 65535 0 d16 1 0 d16 min dd. -1 -1 d16 1 0 d16 min dd. 0 -32768 d16 -1 -1 d16 min dd. 0 1 d16 65535 0 d16 min dd. -1 32767 d16 0 -32768 d16 min dd. 5 0 d16 5 0 d16 min dd. 0 -1 d16 0 1 d16 min dd. cr
case: d16-max 1000 0 d16 2345 0 d16 max dd. 65535 0 d16 1 0 d16 max dd. -1 -1 d16 1 0 d16 max dd. 0 -32768 d16 -1 -1 d16 max dd. 0 1 d16 65535 0 d16 max dd. -1 32767 d16 0 -32768 d16 max dd. 5 0 d16 5 0 d16 max dd. 0 -1 d16 0 1 d16 max dd. cr
case: m16-plus 1000 0 d16 5 + dd. 1000 0 d16 -5 + dd. 65535 0 d16 1 + dd. -1 -1 d16 1 + dd. 0 0 d16 -1 + dd. 0 -32768 d16 -1 + dd. -1 32767 d16 1 + dd. cr
case: s16-to-d 0 dd. 5 dd. -5 dd. 32767 dd. -32768 dd. -1 dd. cr
case: um16-star 65535 65535 * dd. 300 200 * dd. 0 77 * dd. 256 256 * dd. 40000 3 * dd. 65535 1 * dd. cr
case: m16-star -1 -1 * dd. -32768 -32768 * dd. 300 -200 * dd. -300 -200 * dd. 32767 32767 * dd. -7 9 * dd. 0 -5 * dd. cr
case: um16-slash-mod 1000 0 7 um/mod16 0 1 3 um/mod16 65535 65534 65535 um/mod16 0 0 3 um/mod16 12345 0 1 um/mod16 65535 32767 65535 um/mod16 0 3 3 um/mod16 5 0 0 um/mod16 cr
case: sm16-slash-rem 7 0 d16 2 sm/rem16. -7 -1 d16 2 sm/rem16. 7 0 d16 -2 sm/rem16. -7 -1 d16 -2 sm/rem16. 0 1 d16 7 sm/rem16. -1000 -1 d16 7 sm/rem16. -1000 -1 d16 -7 sm/rem16. 12 0 d16 0 sm/rem16. 0 100 d16 3 sm/rem16. 6 0 d16 3 sm/rem16. -6 -1 d16 3 sm/rem16. cr
case: fm16-slash-mod 7 0 d16 2 fm/mod16 -7 -1 d16 2 fm/mod16 7 0 d16 -2 fm/mod16 -7 -1 d16 -2 fm/mod16 0 1 d16 7 fm/mod16 -1000 -1 d16 7 fm/mod16 -1000 -1 d16 -7 fm/mod16 12 0 d16 0 fm/mod16 0 100 d16 3 fm/mod16 6 0 d16 3 fm/mod16 -6 -1 d16 3 fm/mod16 cr
case: slash16 7 2 sm/rem16 nip c. -7 2 sm/rem16 nip c. 7 -2 sm/rem16 nip c. -7 -2 sm/rem16 nip c. 300 7 sm/rem16 nip c. -30000 7 sm/rem16 nip c. 0 5 sm/rem16 nip c. 9 0 sm/rem16 nip c. -9 0 sm/rem16 nip c. 32767 -1 sm/rem16 nip c. cr
case: mod16 7 2 sm/rem16 drop c. -7 2 sm/rem16 drop c. 7 -2 sm/rem16 drop c. -7 -2 sm/rem16 drop c. 300 7 sm/rem16 drop c. -30000 7 sm/rem16 drop c. 0 5 sm/rem16 drop c. 9 0 sm/rem16 drop c. -9 0 sm/rem16 drop c. 32767 -1 sm/rem16 drop c. cr
case: slash-mod16 7 2 sm/rem16 swap c. c. -7 2 sm/rem16 swap c. c. 7 -2 sm/rem16 swap c. c. -7 -2 sm/rem16 swap c. c. 300 7 sm/rem16 swap c. c. -30000 7 sm/rem16 swap c. c. 0 5 sm/rem16 swap c. c. 9 0 sm/rem16 swap c. c. -9 0 sm/rem16 swap c. c. 32767 -1 sm/rem16 swap c. c. cr
case: star-slash16 1000 1000 * 70 sm/rem16 nip c. -1000 1000 * 70 sm/rem16 nip c. 1000 -1000 * -70 sm/rem16 nip c. 30000 30000 * 30000 sm/rem16 nip c. -32768 300 * 1000 sm/rem16 nip c. 50 3 * -4 sm/rem16 nip c. 12345 -1 * 1 sm/rem16 nip c. 300 300 * 0 sm/rem16 nip c. cr
case: star-slash-mod16 1000 1000 * 70 sm/rem16 swap c. c. -1000 1000 * 70 sm/rem16 swap c. c. 1000 -1000 * -70 sm/rem16 swap c. c. 30000 30000 * 30000 sm/rem16 swap c. c. -32768 300 * 1000 sm/rem16 swap c. c. 50 3 * -4 sm/rem16 swap c. c. 12345 -1 * 1 sm/rem16 swap c. c. 300 300 * 0 sm/rem16 swap c. c. cr
case: star16 300 200 * c. 255 255 * c. -3 7 * c. -300 -300 * c. 1000 1000 * c. -1 -1 * c. cr
bye
