\ Expected stacks of the cases of cases.txt for the words beyond the classic
\ set in 16-bit cells: language.fs, with gforth's cells masked to 16 bits.
16 constant cell-bits
include ./language.fs
