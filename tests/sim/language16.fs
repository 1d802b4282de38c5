\ Expected stacks of the cases of cases.txt for the words beyond the classic
\ set in 16-bit cells, computed by gforth, a standard Forth, with its own
\ wide cells masked to 16 bits (a double to its lo and hi cells, the high
\ cell on top as in 16-bit cells). Each line is "name: cells", bottom
\ first; mirtolan_simtest --check-stacks-with ... --cells 16 compares them
\ with the cases' expected stacks in that cell size.
: c. ( n -- ) 65535 and . ;
: dd. ( d -- ) drop dup c. 16 rshift c. ;   \ a gforth double that fits one gforth cell
: case: ( "name" -- ) parse-name type ." : " ;
\ Prints the top n cells, bottom first, and drops them.
: .cells ( x1 .. xn n -- ) dup 0 ?do dup i - pick c. loop 0 ?do drop loop cr ;

: counted ( n -- m ) 0 swap 0 ?do 1+ loop ;
: qdo 0 counted 3 counted 10 5 ?do i loop 7 7 ?do 1 2 +loop ;
case: question-do qdo 7 .cells

: lv 10 0 do i i 3 = if leave then loop 100
  3 0 do 10 0 do i 1 = if leave then i loop loop
  5 0 ?do i 2 = if leave then loop ;
case: leave lv 8 .cells

: first-over ( limit -- i ) 0 do i 5 > if i unloop exit then loop 255 ;
case: unloop-exit 10 first-over 3 first-over 2 .cells

: fib ( n -- f ) dup 2 < if exit then dup 1- recurse swap 2 - recurse + ;
case: recurse 10 fib 1 fib 0 fib 3 .cells

: kij 1 0 do 3 1 do 5 3 do k j i loop loop loop ;
case: k-index kij 12 .cells

7 value speed
-1 value flag
: faster speed 1+ to speed ;
case: value-to speed faster faster speed flag 0 to flag flag 4 .cells

defer action  ' noop is action   \ an unset DEFER does nothing here
: one 1 ;
: two 2 ;
: dx action ['] one is action action ['] two is action action ['] one execute 3 ['] dup execute ;
case: defer-is-execute dx 5 .cells

case: double-literals 1000. dd. -2. dd. 65535. dd. 0. dd. hex 10. decimal dd. cr

: first ( addr u -- c u ) >r c@ r> ;
: signed ( d -- addr u ) tuck dabs <# #s rot sign #> ;
: pics 4294967295. <# #s #> first 100000. <# # # # #> first -123456. signed first
  -2147483648. signed first 0. signed first 131071. <# #s #> first ;
case: pictured-output-16 pics 12 .cells

\ ADDR+ adds as + does: an address is one cell
case: addr-plus-16 506 200 + 255 1 + 65535 1 + 7 0 + 100 -1 + 5 .cells
bye
