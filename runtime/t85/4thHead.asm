; Run-time header for compiled Forth on the ATtiny85.
; A compiled listing includes this file first; it defines what the generated
; code takes for granted, starts the stacks and calls the word main.
;
; Device: avra include tn85def.inc, simavr core attiny85, avrdude part t85,
;   SRAM $0060-$025F, flash 8 KB, no call/jmp (rcall/rjmp reach all flash), default variable start 60,
;   clock 8000000 Hz (F_CPU below), no hardware multiply: * UM* M* work in software, no UART: the serial words stop the build.
;
; Registers
;   Ftmp1 (r16), Ftmp2 (r17)  scratch of every word; a literal is pushed
;                             through Ftmp1, CASE keeps its selector in Ftmp2
;   Y  (r29:r28)              data stack pointer, the top cell sits at Y
;   X  (r27:r26)              loop stack pointer (DO LOOP I J >R R> R@)
;   Z  (r31:r30), r0, r1,
;   r18, r19                  scratch that archive words may change
;   r2-r15, r20-r25           never touched by the run-time: free for $ lines
; A word may change the status flags; _TestIfZero leaves Z set for a zero
; flag, LOOP and +LOOP leave the carry clear while the loop goes on.
;
; Cells and flags
;   A cell is one byte. Push: st -Y,Ftmp1   Pop: ld Ftmp1,Y+
;   An address takes two cells, high byte pushed first, low byte on top.
;   True is 255, false is 0; every nonzero byte counts as true.
;
; Memory map (SRAM $0060-$025F; compile with the variable start 60)
;   $0060-...    variables, allocated upward from the variable start
;   ...-$01FF    data stack, grows down from DATA_STACK_TOP toward the variables
;   $0200-$021F  loop stack, 32 bytes: each DO takes two (index on top of
;                its limit), each >R one; grows down from LOOP_STACK_TOP
;   $0220-$025F  hardware stack, 64 bytes, return addresses only
; Nothing checks the stacks against each other.
;
; Flash: the reset vector at 0, the interrupt vectors (see INTERRUPT in
; 4thCore.asm), then the start-up code, then the listing.

.nolist
.include "tn85def.inc"
.list

.equ	F_CPU		= 8000000	; the board's clock: change it to match yours
.equ	BAUD		= 9600		; UART0 speed, one line to change
.equ	HW_STACK_SIZE	= 64
.equ	LOOP_STACK_SIZE	= 32
.equ	HAS_JMP		= 0
.equ	HAS_MUL		= 0
.equ	HAS_UART	= 0
.equ	_RMCUSR		= MCUSR
.equ	_RWDT		= WDTCR+0x20
.equ	_RWDCHANGE	= (1<<WDCE)|(1<<WDE)
.equ	_RSLEEPCTL	= MCUCR
.equ	_RSLEEPMODE	= (1<<SE)|(1<<SM1)
.macro	_RNeedUart
.error	"@0 needs a UART, the ATtiny85 has none"
.endmacro

.include "../4thCore.asm"
