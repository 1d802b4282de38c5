; Run-time header for compiled Forth on the ATmega32.
; A compiled listing includes this file first; it defines what the generated
; code takes for granted, starts the stacks and calls the word main.
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
; Memory map (SRAM $0060-$085F)
;   $0060-$0080  free (the default variable start is $81)
;   $0081-...    variables, allocated upward from the variable start
;   ...-$071F    data stack, grows down from DATA_STACK_TOP toward the variables
;   $0720-$075F  loop stack, 64 bytes: each DO takes two (index on top of
;                its limit), each >R one; grows down from LOOP_STACK_TOP
;   $0760-$085F  hardware stack, 256 bytes, return addresses only
; Nothing checks the stacks against each other; deep recursion that passes
; 128 nested calls runs into the loop stack.
;
; Flash: the reset vector at 0, the interrupt vectors left free, then this
; start-up code, then the listing.

.nolist
.include "m32def.inc"
.list

.def	Ftmp1	= r16
.def	Ftmp2	= r17

; Long call and jump, for the compiler's Zcall option.
.macro	Zcall
	call	@0
.endmacro
.macro	Zjmp
	jmp	@0
.endmacro

.equ	HW_STACK_SIZE	= 256
.equ	LOOP_STACK_SIZE	= 64
.equ	LOOP_STACK_TOP	= RAMEND + 1 - HW_STACK_SIZE
.equ	DATA_STACK_TOP	= LOOP_STACK_TOP - LOOP_STACK_SIZE

.cseg
.org	0
	jmp	_Reset
.org	INT_VECTORS_SIZE
_Reset:
	ldi	Ftmp1,low(RAMEND)
	out	SPL,Ftmp1
	ldi	Ftmp1,high(RAMEND)
	out	SPH,Ftmp1
	ldi	YL,low(DATA_STACK_TOP)
	ldi	YH,high(DATA_STACK_TOP)
	ldi	XL,low(LOOP_STACK_TOP)
	ldi	XH,high(LOOP_STACK_TOP)
	call	main
; main has returned: power down with interrupts off, so only a reset wakes
; the chip (and a simulator ends its run).
	cli
	ldi	Ftmp1,(1<<SE)|(1<<SM1)
	out	MCUCR,Ftmp1
_Halt:
	sleep
	rjmp	_Halt
