; Run-time header for compiled Forth on the ATmega168.
; A compiled listing includes this file first; it defines what the generated
; code takes for granted, starts the stacks and calls the word main.
;
; Device: avra include m168def.inc, simavr core atmega168, avrdude part m168,
;   SRAM $0100-$04FF, flash 16 KB, call/jmp, default variable start 100,
;   clock 16000000 Hz (F_CPU below), hardware multiply, UART0 at BAUD below.
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
; Memory map (SRAM $0100-$04FF; compile with the variable start 100)
;   $0100-...    variables, allocated upward from the variable start
;   ...-$045F    data stack, grows down from DATA_STACK_TOP toward the variables
;   $0460-$047F  loop stack, 32 bytes: each DO takes two (index on top of
;                its limit), each >R one; grows down from LOOP_STACK_TOP
;   $0480-$04FF  hardware stack, 128 bytes, return addresses only
; Nothing checks the stacks against each other.
;
; Flash: the reset vector at 0, the interrupt vectors (see INTERRUPT in
; 4thCore.asm), then the start-up code, then the listing.

.nolist
.include "m168def.inc"
.list

.equ	F_CPU		= 16000000	; the board's clock: change it to match yours
.equ	BAUD		= 9600		; UART0 speed, one line to change
.equ	HW_STACK_SIZE	= 128
.equ	LOOP_STACK_SIZE	= 32
.equ	HAS_JMP		= 1
.equ	HAS_MUL		= 1
.equ	HAS_UART	= 1
.equ	_RMCUSR		= MCUSR
.equ	_RWDT		= WDTCSR
.equ	_RWDCHANGE	= (1<<WDCE)|(1<<WDE)
.equ	_RSLEEPCTL	= SMCR
.equ	_RSLEEPMODE	= (1<<SE)|(1<<SM1)
.equ	_RUDR		= UDR0
.equ	_RUCSRA		= UCSR0A
.equ	_RUCSRB		= UCSR0B
.equ	_RUBRRL		= UBRR0L
.equ	_RUBRRH		= UBRR0H
.equ	_RUDRE		= UDRE0
.equ	_RRXC		= RXC0
.equ	_RTXEN		= TXEN0
.equ	_RRXEN		= RXEN0
.macro	_RNeedUart
.endmacro

.include "../4thCore.asm"
