\ Expected stacks of the cases of cases.txt for the words beyond the classic
\ set, computed by gforth, a standard Forth, with its own wide cells masked to
\ the cell size: 8 bits here (a double as its hi and lo bytes, as the byte
\ cells hold it), 16 bits when language16.fs sets cell-bits before it
\ includes this file (a double as its lo and hi cells). Each line is
\ "name: cells", bottom first; mirtolan_simtest --check-stacks-with
\ compares them with the cases' expected stacks in that cell size.
[undefined] cell-bits [if] 8 constant cell-bits [then]
1 cell-bits lshift 1- constant cell-mask
: c. ( n -- ) cell-mask and . ;
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

: classify ( n -- n' ) begin dup 10 < while dup 5 <> while 1+ repeat 100 + else 50 + then ;
: down ( n -- n' ) begin dup while dup 3 <> while 1- repeat then ;
: grow ( n -- n' ) begin dup 50 < while 2* dup 30 > until 1+ then ;
case: two-whiles 3 classify 12 classify 7 classify 5 down 2 down 3 grow 60 grow 7 .cells

: f ( n -- m ) case 1 of 10 endof 2 of 20 endof 0 swap endcase ;
: g ( n -- m ) case 5 of 50 endof dup 2* swap endcase ;
case: case-default-clause 1 f 2 f 3 f 5 g 7 g 5 .cells

7 value speed
-1 value flag
: faster speed 1+ to speed ;
case: value-to speed faster faster speed flag 0 to flag flag 4 .cells

defer action  ' noop is action   \ an unset DEFER does nothing here
: one 1 ;
: two 2 ;
: dx action ['] one is action action ['] two is action action ['] one execute 3 ['] dup execute ;
case: defer-is-execute dx 5 .cells

: first ( addr u -- c u ) >r c@ r> ;
cell-bits 8 = [if]
\ A double as its hi and lo bytes.
: hl. ( n -- ) 65535 and dup 8 rshift c. c. ;
: .doubles ( d1 .. dn n -- ) dup 0 ?do dup i - 2* pick hl. loop 2* 0 ?do drop loop cr ;
: ten 1000. -2. 65535. 0. ;
hex : sixteen 10. ; decimal
case: double-literals ten sixteen 5 .doubles

: pics 1234. <# #s #> first 99. <# # # # #> first -5. tuck dabs <# #s rot sign #> first
  0. <# 'x' hold #> first 0. <# #s #> first 65535. <# #s #> first ;
case: pictured-output pics 12 .cells
[else]
: dd. ( d -- ) drop dup c. 16 rshift c. ;   \ a gforth double that fits one gforth cell, as lo hi
case: double-literals 1000. dd. -2. dd. 65535. dd. 0. dd. hex 10. decimal dd. cr

: signed ( d -- addr u ) tuck dabs <# #s rot sign #> ;
: pics16 4294967295. <# #s #> first 100000. <# # # # #> first -123456. signed first
  -2147483648. signed first 0. signed first 131071. <# #s #> first ;
case: pictured-output-16 pics16 12 .cells

\ ADDR+ adds as + does: an address is one cell
case: addr-plus-16 506 200 + 255 1 + 65535 1 + 7 0 + 100 -1 + 5 .cells
[then]
bye
