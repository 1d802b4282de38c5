; Run-time header for compiled Forth on the ATmega32.
; A compiled listing includes this file first; it defines what the generated
; code takes for granted, starts the stacks and calls the word main.
;
; Device: avra include m32def.inc, simavr core atmega32, avrdude part m32,
;   SRAM $0060-$085F, flash 32 KB, call/jmp, default variable start 81,
;   clock 8000000 Hz (F_CPU below), hardware multiply, UART0 at BAUD below.
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
; Memory map (SRAM $0060-$085F; compile with the variable start 81)
;   $0081-...    variables, allocated upward from the variable start
;   ...-$071F    data stack, grows down from DATA_STACK_TOP toward the variables
;   $0720-$075F  loop stack, 64 bytes: each DO takes two (index on top of
;                its limit), each >R one; grows down from LOOP_STACK_TOP
;   $0760-$085F  hardware stack, 256 bytes, return addresses only
; Nothing checks the stacks against each other.
;
; Flash: the reset vector at 0, the interrupt vectors (see INTERRUPT in
; 4thCore.asm), then the start-up code, then the listing.

.nolist
.include "m32def.inc"
.list

.equ	F_CPU		= 8000000	; the board's clock: change it to match yours
.equ	BAUD		= 9600		; UART0 speed, one line to change
.equ	HW_STACK_SIZE	= 256
.equ	LOOP_STACK_SIZE	= 64
.equ	HAS_JMP		= 1
.equ	HAS_MUL		= 1
.equ	HAS_UART	= 1
.equ	_RMCUSR		= MCUCSR
.equ	_RWDT		= WDTCR+0x20
.equ	_RWDCHANGE	= (1<<WDTOE)|(1<<WDE)
.equ	_RSLEEPCTL	= MCUCR
.equ	_RSLEEPMODE	= (1<<SE)|(1<<SM1)
.equ	_RUDR		= UDR+0x20
.equ	_RUCSRA		= UCSRA+0x20
.equ	_RUCSRB		= UCSRB+0x20
.equ	_RUBRRL		= UBRRL+0x20
.equ	_RUBRRH		= UBRRH+0x20
.equ	_RUDRE		= UDRE
.equ	_RRXC		= RXC
.equ	_RTXEN		= TXEN
.equ	_RRXEN		= RXEN
.macro	_RNeedUart
.endmacro

.include "4thCore.asm"
