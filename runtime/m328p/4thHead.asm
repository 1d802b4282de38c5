; Run-time header for compiled Forth on the ATmega328P.
; A compiled listing includes this file first; it defines what the generated
; code takes for granted, starts the stacks and calls the word main.
;
; Device: avra include m328Pdef.inc, simavr core atmega328p, avrdude part m328p,
;   SRAM $0100-$08FF, flash 32 KB, call/jmp, default variable start 100,
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
;                             (an optimised program keeps cells in r8-r15 and
;                             r20-r25: only r2-r7 stay free across words)
; A word may change the status flags; _TestIfZero leaves Z set for a zero
; flag, LOOP and +LOOP leave the carry clear while the loop goes on.
;
; Cells and flags
;   A cell is one byte. Push: st -Y,Ftmp1   Pop: ld Ftmp1,Y+
;   An address takes two cells, high byte pushed first, low byte on top.
;   True is 255, false is 0; every nonzero byte counts as true.
;
; Memory map (SRAM $0100-$08FF; compile with the variable start 100)
;   $0100-...    variables, allocated upward from the variable start
;   ...-$07AB    data stack, grows down from DATA_STACK_TOP toward the variables
;   $07AC-$07BF  run-time area, 20 bytes: the buffer of <# ... #> and its pointer
;                (36 bytes from $079C in 16-bit cells, where the data stack ends lower)
;   $07C0-$07FF  loop stack, 64 bytes: each DO takes two (index on top of
;                its limit), each >R one; grows down from LOOP_STACK_TOP
;   $0800-$08FF  hardware stack, 256 bytes, return addresses only
; Nothing checks the stacks against each other.
;
; Flash: the reset vector at 0, the interrupt vectors (see INTERRUPT
; below), then the start-up code, then the listing.

.nolist
.include "m328Pdef.inc"
.list

.equ	F_CPU		= 16000000	; the board's clock: change it to match yours
.equ	BAUD		= 9600		; UART0 speed, one line to change
.equ	HW_STACK_SIZE	= 256
.equ	LOOP_STACK_SIZE	= 64
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

; ==== shared by every device: 4thCore.inc from here on (cmake --build build --target headers)
; Start-up code and shared macros of the run-time, the same for every device.
; Each device's 4thHead.asm includes its avra definitions, sets the facts
; below and then holds a copy of this file (the build target headers makes
; it, the test sim.headers checks it), so that a header stands on its own:
;   F_CPU            clock in Hz; MS, US and the baud rate are computed from it
;   BAUD             UART0 speed (8 data bits, no parity, one stop bit)
;   HW_STACK_SIZE    bytes of hardware stack at the top of SRAM
;   LOOP_STACK_SIZE  bytes of loop stack below it
;   HAS_JMP, HAS_MUL, HAS_UART   1 when the device has call/jmp, mul, a UART
;   _RMCUSR          I/O address of the reset status register
;   _RWDT            data address of the watchdog control register
;   _RWDCHANGE       the bits that unlock a change of the watchdog
;   _RSLEEPCTL       I/O address of the sleep mode control register
;   _RSLEEPMODE      its value for power-down with sleep enabled
;   _RUDR, _RUCSRA, _RUCSRB, _RUBRRL, _RUBRRH (data addresses), _RUDRE,
;   _RRXC, _RTXEN, _RRXEN (bit numbers)   UART0, when there is one
; and defines the macro _RNeedUart, which stops the assembly with a message
; naming the word on a device without a UART.

.def	Ftmp1	= r16
.def	Ftmp2	= r17
; The high bytes of a 16-bit case constant and selector, which OF compares.
.def	Ftmp1H	= r18
.def	Ftmp2H	= r19

; The size of a cell: 8 bits unless the listing says 16 before it
; includes this header (.equ CELL_BITS = 16). The archive of that size
; holds the words; the header is the same for both.
.ifndef CELL_BITS
.equ	CELL_BITS	= 8
.endif

; A listing the optimiser wrote (mirtolanc --opt) says so before it includes
; this header (.equ _ROPT = 1): its words keep cells in r8-r25, which the
; interrupt wrapper then saves as well.
.ifndef _ROPT
.equ	_ROPT		= 0
.endif

; Long call and jump, for the compiler's Zcall option; a device without
; call/jmp reaches its whole flash with rcall/rjmp.
.if HAS_JMP
.macro	Zcall
	call	@0
.endmacro
.macro	Zjmp
	jmp	@0
.endmacro
.else
.macro	Zcall
	rcall	@0
.endmacro
.macro	Zjmp
	rjmp	@0
.endmacro
.endif

.equ	LOOP_STACK_TOP	= RAMEND + 1 - HW_STACK_SIZE
; ---- the run-time area, between the data stack and the loop stack:
; the buffer of pictured numeric output (<# # #S HOLD SIGN #>), which
; holds a double of two cells in digits, a sign and a blank, and its
; pointer HLD. The data stack begins below it.
.equ	_RPICTURE_SIZE	= 2 * CELL_BITS + 2
.equ	_RAREA_SIZE	= _RPICTURE_SIZE + 2
.equ	_RAREA		= LOOP_STACK_TOP - LOOP_STACK_SIZE - _RAREA_SIZE
.equ	_RPICTURE	= _RAREA
.equ	_RPICTURE_END	= _RPICTURE + _RPICTURE_SIZE
.equ	_RHLD		= _RPICTURE_END
.equ	DATA_STACK_TOP	= _RAREA
; Cycles in a microsecond and in a millisecond, for US and MS.
.equ	_RCYCLES_US	= F_CPU / 1000000
.equ	_RCYCLES_MS	= F_CPU / 1000
; MS counts 4 cycles a turn, plus 4 a millisecond around the turns.
.equ	_RMS_TURNS	= (_RCYCLES_MS - 4) / 4
; UBRR rounded to the nearest divider.
.equ	_RUBRR		= (F_CPU + 8 * BAUD) / (16 * BAUD) - 1

.cseg
.org	0
.if HAS_JMP
	jmp	_Reset
.else
	rjmp	_Reset
.endif
.org	INT_VECTORS_SIZE
_Reset:
; A bootloader may start the program with the watchdog running, which would
; reset it every few milliseconds; the reset flag would keep it on.
	cli
	wdr
	in	Ftmp1,_RMCUSR
	andi	Ftmp1,~(1<<WDRF)
	out	_RMCUSR,Ftmp1
	ldi	Ftmp1,_RWDCHANGE
	clr	Ftmp2
	sts	_RWDT,Ftmp1
	sts	_RWDT,Ftmp2
	ldi	Ftmp1,low(RAMEND)
	out	SPL,Ftmp1
	ldi	Ftmp1,high(RAMEND)
	out	SPH,Ftmp1
; A program with initialised data (CREATE tables, VALUE, DEFER) says so
; before it includes this header; its routine copies the data from flash
; into RAM, using X before the loop stack is set.
.ifdef _RHAS_INITDATA
	Zcall	_RInitData
.endif
	ldi	YL,low(DATA_STACK_TOP)
	ldi	YH,high(DATA_STACK_TOP)
	ldi	XL,low(LOOP_STACK_TOP)
	ldi	XH,high(LOOP_STACK_TOP)
.if HAS_UART
	ldi	Ftmp1,high(_RUBRR)
	sts	_RUBRRH,Ftmp1
	ldi	Ftmp1,low(_RUBRR)
	sts	_RUBRRL,Ftmp1
	ldi	Ftmp1,(1<<_RTXEN)|(1<<_RRXEN)
	sts	_RUCSRB,Ftmp1
.endif
	Zcall	main
; main has returned: power down with interrupts off, so only a reset wakes
; the chip (and a simulator ends its run).
	cli
	ldi	Ftmp1,_RSLEEPMODE
	out	_RSLEEPCTL,Ftmp1
_Halt:
	sleep
	rjmp	_Halt

; ---- interrupt handlers
; INTERRUPT vector, word   (from a "$" line between definitions)
; points the vector at a wrapper that saves what the run-time and the
; archive use (SREG, Ftmp1, Ftmp2, r0, r1, r18, r19, Z, X), calls the colon
; definition word and returns with reti. The word may use the data and loop
; stacks as long as it leaves them as it found them; r2-r15 and r20-r25 are
; not saved, except that an optimised program (_ROPT) saves r8-r15 and
; r20-r25 too, which its words use. The wrapper sits where the line stands.
.macro	INTERRUPT
_RIsrHere:
.org	@0
.if HAS_JMP
	jmp	_RIsr
.else
	rjmp	_RIsr
.endif
.org	_RIsrHere
_RIsr:
	push	Ftmp1
	in	Ftmp1,SREG
	push	Ftmp1
	push	Ftmp2
	push	r0
	push	r1
	push	r18
	push	r19
	push	ZL
	push	ZH
	push	XL
	push	XH
.if _ROPT
	push	r8
	push	r9
	push	r10
	push	r11
	push	r12
	push	r13
	push	r14
	push	r15
	push	r20
	push	r21
	push	r22
	push	r23
	push	r24
	push	r25
.endif
	Zcall	@1
.if _ROPT
	pop	r25
	pop	r24
	pop	r23
	pop	r22
	pop	r21
	pop	r20
	pop	r15
	pop	r14
	pop	r13
	pop	r12
	pop	r11
	pop	r10
	pop	r9
	pop	r8
.endif
	pop	XH
	pop	XL
	pop	ZH
	pop	ZL
	pop	r19
	pop	r18
	pop	r1
	pop	r0
	pop	Ftmp2
	pop	Ftmp1
	out	SREG,Ftmp1
	pop	Ftmp1
	reti
.endmacro

; ---- program-memory data
; FADDR label   (inside a definition, after "$") pushes the byte address
; in flash of a label of the program, two cells (one in 16-bit cells), for
; C@P, COUNTP and TYPEP.
.macro	FADDR
	ldi	Ftmp1,high(2*@0)
	st	-Y,Ftmp1
	ldi	Ftmp1,low(2*@0)
	st	-Y,Ftmp1
.endmacro

; ---- helpers of the archive words, expanded into their bodies
; r1:r0 = Ftmp1 * Ftmp2, unsigned; changes r18 where there is no mul.
.macro	_RMul8
.if HAS_MUL
	mul	Ftmp1,Ftmp2
.else
	clr	r1
	mov	r0,Ftmp1
	ldi	r18,8
	lsr	r0
_RMul8Step:
	brcc	_RMul8Skip
	add	r1,Ftmp2
_RMul8Skip:
	ror	r1
	ror	r0
	dec	r18
	brne	_RMul8Step
.endif
.endmacro

; r1:r0 = Ftmp1 * Ftmp2, signed; changes r18 and r19 where there is no mul.
.macro	_RMulS8
.if HAS_MUL
	muls	Ftmp1,Ftmp2
.else
	mov	r19,Ftmp1
	eor	r19,Ftmp2	; the sign of the product
	sbrc	Ftmp1,7
	neg	Ftmp1
	sbrc	Ftmp2,7
	neg	Ftmp2
	_RMul8
	sbrs	r19,7
	rjmp	_RMulS8Done
	com	r1
	neg	r0
	brne	_RMulS8Done
	inc	r1		; the low byte was 0: the carry goes up
_RMulS8Done:
.endif
.endmacro

; r1:r0 = r1:r0 / ZL, remainder in Ftmp1, unsigned; changes Ftmp2.
; Dividing by 0 gives 65535.
.macro	_RUDiv16
	clr	Ftmp1
	ldi	Ftmp2,16
_RUDiv16Step:
	lsl	r0
	rol	r1
	rol	Ftmp1
	brcs	_RUDiv16Sub	; a nine-bit remainder exceeds any divisor
	cp	Ftmp1,ZL
	brlo	_RUDiv16Next
_RUDiv16Sub:
	sub	Ftmp1,ZL
	inc	r0
_RUDiv16Next:
	dec	Ftmp2
	brne	_RUDiv16Step
.endmacro

; Sends Ftmp1 on UART0 once it can take a byte; changes Ftmp2.
.macro	_REmit
_REmitWait:
	lds	Ftmp2,_RUCSRA
	sbrs	Ftmp2,_RUDRE
	rjmp	_REmitWait
	sts	_RUDR,Ftmp1
.endmacro

; Prints r1:r0 in decimal, after a minus sign when r19 is not 0, right
; aligned in r18 characters. The digits wait on the data stack below Y.
.macro	_RPrintNumber
	clr	ZH		; characters so far
_RPrintDigit:
	ldi	ZL,10
	_RUDiv16
	subi	Ftmp1,-'0'
	st	-Y,Ftmp1
	inc	ZH
	mov	Ftmp1,r0
	or	Ftmp1,r1
	brne	_RPrintDigit
	tst	r19
	breq	_RPrintPad
	ldi	Ftmp1,'-'
	st	-Y,Ftmp1
	inc	ZH
_RPrintPad:
	sub	r18,ZH
	brcs	_RPrintOut
	breq	_RPrintOut
_RPrintSpace:
	ldi	Ftmp1,' '
	_REmit
	dec	r18
	brne	_RPrintSpace
_RPrintOut:
	ld	Ftmp1,Y+
	_REmit
	dec	ZH
	brne	_RPrintOut
.endmacro

; Sends the hexadecimal digit of the low nibble of Ftmp1; changes Ftmp2.
.macro	_RHexDigit
	andi	Ftmp1,0x0F
	cpi	Ftmp1,10
	brlo	_RHexDecimal
	subi	Ftmp1,-('A'-'0'-10)
_RHexDecimal:
	subi	Ftmp1,-'0'
	_REmit
.endmacro

; ---- 16-bit cells: helpers of the words of Mirtolan16.arch
; A cell is two bytes on the data stack, the low byte at the lower address
; (Y points at the low byte of the top cell); a double is two cells, the
; high cell on top. The helpers keep to the scratch registers of the 8-bit
; words (Ftmp1 = r16, Ftmp2 = r17, r18, r19, r0, r1, Z) and the T flag.
.if CELL_BITS == 16
; MS counts 4 cycles a turn, plus 5 a millisecond around the turns (and
; the odd cycles as nops).
.equ	_RMS16_TURNS	= (_RCYCLES_MS - 5) / 4
.equ	_RMS16_NOPS	= (_RCYCLES_MS - 5) % 4

; @0:@1 = -@0:@1 (@0 the high byte, one of r16 to r31).
.macro	_RNeg16
	com	@0
	neg	@1
	sbci	@0,-1
.endmacro

; r19:r18:r17:r16 = -r19:r18:r17:r16.
.macro	_RNeg32
	com	r19
	com	r18
	com	r17
	neg	r16
	sbci	r17,-1
	sbci	r18,-1
	sbci	r19,-1
.endmacro

; r19:r18:r17:r16 = the double on top of the data stack, left there.
.macro	_RLoadD
	ldd	r16,Y+2
	ldd	r17,Y+3
	ld	r18,Y
	ldd	r19,Y+1
.endmacro

; The double on top of the data stack = r19:r18:r17:r16.
.macro	_RStoreD
	std	Y+2,r16
	std	Y+3,r17
	st	Y,r18
	std	Y+1,r19
.endmacro

; r19:r18:r17:r16 = the double on top of the data stack, taken off it.
.macro	_RPopD
	ld	r18,Y+
	ld	r19,Y+
	ld	r16,Y+
	ld	r17,Y+
.endmacro

; ( u1 u2 -- ud ) in place: the unsigned product of the top two cells.
; Changes r0, r1, Ftmp1, Ftmp2, r18, r19 and Z.
.macro	_RUMStar
	ld	r16,Y		; u2
	ldd	r17,Y+1
	ldd	r18,Y+2		; u1
	ldd	r19,Y+3
.if HAS_MUL
	mul	r18,r16
	std	Y+2,r0		; byte 0
	mov	ZL,r1		; byte 1
	clr	ZH		; byte 2
	mul	r18,r17
	add	ZL,r0
	adc	ZH,r1		; no carry out: FF*FF + FF < 10000
	clr	r18		; byte 3
	mul	r19,r16
	add	ZL,r0
	adc	ZH,r1
	adc	r18,r18		; the carry into byte 3
	std	Y+3,ZL
	mul	r19,r17
	add	ZH,r0
	adc	r18,r1
	st	Y,ZH
	std	Y+1,r18
.else
	clr	r0		; the high half of the product
	clr	r1
	ldi	ZL,16
	lsr	r17		; the multiplier's bits into the carry, one a turn
	ror	r16
_RUMStarStep:
	brcc	_RUMStarSkip
	add	r0,r18
	adc	r1,r19
_RUMStarSkip:
	ror	r1
	ror	r0
	ror	r17
	ror	r16
	dec	ZL
	brne	_RUMStarStep
	std	Y+2,r16
	std	Y+3,r17
	st	Y,r0
	std	Y+1,r1
.endif
.endmacro

; ( n1 n2 -- d ) in place: the signed product of the top two cells.
; Changes r0, r1, Ftmp1, Ftmp2, r18, r19, Z and T.
.macro	_RMStar
	ldd	r16,Y+1
	ldd	r17,Y+3
	eor	r16,r17
	bst	r16,7		; T: the sign of the product
	ld	r16,Y		; both factors by their magnitudes
	ldd	r17,Y+1
	sbrs	r17,7
	rjmp	_RMStarSecond
	_RNeg16	r17,r16
	st	Y,r16
	std	Y+1,r17
_RMStarSecond:
	ldd	r16,Y+2
	ldd	r17,Y+3
	sbrs	r17,7
	rjmp	_RMStarMultiply
	_RNeg16	r17,r16
	std	Y+2,r16
	std	Y+3,r17
_RMStarMultiply:
	_RUMStar
	brtc	_RMStarDone
	_RLoadD
	_RNeg32
	_RStoreD
_RMStarDone:
.endmacro

; r17:r16 = r19:r18:r17:r16 / Z and r19:r18 = the remainder, unsigned.
; When r19:r18 is not below Z (a divisor of 0, or a quotient wider than a
; cell) both are 65535, T and r1 are cleared and r0 is 0; else r0 is 16.
.macro	_RUDivCore
	clr	r0		; turns so far
	cp	r18,ZL
	cpc	r19,ZH
	brlo	_RUDivStep
	ser	r16
	ser	r17
	ser	r18
	ser	r19
	clt
	clr	r1
	rjmp	_RUDivDone
_RUDivStep:
	lsl	r16
	rol	r17
	rol	r18
	rol	r19
	brcs	_RUDivSub	; a 17-bit remainder exceeds any divisor
	cp	r18,ZL
	cpc	r19,ZH
	brlo	_RUDivNext
_RUDivSub:
	sub	r18,ZL
	sbc	r19,ZH
	inc	r16
_RUDivNext:
	inc	r0
	sbrs	r0,4		; 16 turns
	rjmp	_RUDivStep
_RUDivDone:
.endmacro

; r17:r16 = the quotient and r19:r18 = the remainder of the signed double
; r19:r18:r17:r16 divided by the signed cell Z, truncated toward 0 (the
; remainder takes the dividend's sign). A divisor of 0 or a quotient wider
; than a cell gives 65535 for both and leaves r0 at 0. Changes r1, Z and T.
.macro	_RSMRem
	mov	r1,r19		; the sign of the remainder
	mov	r0,r19
	eor	r0,ZH
	bst	r0,7		; T: the sign of the quotient
	sbrs	r19,7
	rjmp	_RSMRemDivisor
	_RNeg32
_RSMRemDivisor:
	sbrs	ZH,7
	rjmp	_RSMRemDivide
	_RNeg16	ZH,ZL
_RSMRemDivide:
	_RUDivCore
	brtc	_RSMRemQuotient
	_RNeg16	r17,r16
_RSMRemQuotient:
	sbrs	r1,7
	rjmp	_RSMRemDone
	_RNeg16	r19,r18
_RSMRemDone:
.endmacro

; r19:r18:r17:r16 = the cell n1 below the top, sign-extended, and Z = the
; top cell n2, taken off: the operands of / MOD /MOD.
.macro	_RDivOperands
	ld	ZL,Y+
	ld	ZH,Y+
	ld	r16,Y
	ldd	r17,Y+1
	clr	r18
	sbrc	r17,7
	ser	r18
	mov	r19,r18
.endmacro

; Prints the unsigned number of @0 bytes at Y (low byte first) in decimal,
; after a minus sign when r19 is not 0, right aligned in r18 characters, and
; takes it off the data stack. The width and the sign, then the digits, wait
; on the data stack below it. Changes Ftmp1, Ftmp2, r0, r1, r18, r19 and Z.
.macro	_RPrintWide
	movw	ZL,YL
	st	-Y,r18		; the width
	st	-Y,r19		; the sign
	clr	r1		; digits so far
_RPrintWideDigit:
	adiw	ZL,@0		; past the high byte: the division goes down
	ldi	r19,@0
	clr	Ftmp1		; the remainder
	clr	r18		; the quotient's bytes or-ed together
_RPrintWideByte:
	ld	r0,-Z
	ldi	Ftmp2,8
_RPrintWideBit:
	lsl	r0
	rol	Ftmp1
	cpi	Ftmp1,10
	brlo	_RPrintWideNext
	subi	Ftmp1,10
	inc	r0
_RPrintWideNext:
	dec	Ftmp2
	brne	_RPrintWideBit
	st	Z,r0
	or	r18,r0
	dec	r19
	brne	_RPrintWideByte
	subi	Ftmp1,-'0'
	st	-Y,Ftmp1
	inc	r1
	tst	r18
	brne	_RPrintWideDigit
	movw	ZL,YL		; the sign and the width, above the digits
	add	ZL,r1
	adc	ZH,r18		; r18 is 0
	ld	r19,Z+
	ld	r18,Z
	tst	r19
	breq	_RPrintWidePad
	ldi	Ftmp1,'-'
	st	-Y,Ftmp1
	inc	r1
_RPrintWidePad:
	sub	r18,r1
	brcs	_RPrintWideOut
	breq	_RPrintWideOut
_RPrintWideSpace:
	ldi	Ftmp1,' '
	_REmit
	dec	r18
	brne	_RPrintWideSpace
_RPrintWideOut:
	ld	Ftmp1,Y+
	_REmit
	dec	r1
	brne	_RPrintWideOut
	adiw	YL,2+@0		; the sign, the width and the number
.endmacro

; r18 = the width w of U.R and .R, taken off the data stack: a width
; beyond 255 or below 0 pads nothing.
.macro	_RPopWidth
	ld	r18,Y+
	ld	r19,Y+
	tst	r19
	breq	_RPopWidthDone
	clr	r18
_RPopWidthDone:
.endmacro

; The unsigned double on top of the data stack divided by 10 in place, the
; remainder in Ftmp1; r18 = the quotient's bytes or-ed together (0 when the
; quotient is 0). The division runs from the high byte down: the high
; cell's bytes at Y+1 and Y, then the low cell's at Y+3 and Y+2. Changes
; Ftmp2, r0, r19 and Z.
.macro	_RDiv10D
	clr	Ftmp1		; the remainder
	clr	r18
	movw	ZL,YL
	adiw	ZL,2		; past the high cell
	ldi	r19,4		; bytes to go
_RDiv10DByte:
	ld	r0,-Z
	ldi	Ftmp2,8
_RDiv10DBit:
	lsl	r0
	rol	Ftmp1
	cpi	Ftmp1,10
	brlo	_RDiv10DNext
	subi	Ftmp1,10
	inc	r0
_RDiv10DNext:
	dec	Ftmp2
	brne	_RDiv10DBit
	st	Z,r0
	or	r18,r0
	cpi	r19,3		; the high cell done: on past the low cell
	brne	_RDiv10DStep
	adiw	ZL,4
_RDiv10DStep:
	dec	r19
	brne	_RDiv10DByte
.endmacro

; Copies from r1:r0 to r19:r18, both going up: Ftmp2 bytes, then 256 more
; for each count of the byte at Y+1, which it counts down. Changes Ftmp1, Z.
.macro	_RCopyUp
	tst	Ftmp2
	breq	_RCopyUpBlock
_RCopyUpStep:
	movw	ZL,r0
	ld	Ftmp1,Z+
	movw	r0,ZL
	movw	ZL,r18
	st	Z+,Ftmp1
	movw	r18,ZL
	dec	Ftmp2
	brne	_RCopyUpStep
_RCopyUpBlock:
	ldd	Ftmp1,Y+1
	subi	Ftmp1,1
	brcs	_RCopyUpDone
	std	Y+1,Ftmp1
	rjmp	_RCopyUpStep	; Ftmp2 is 0: 256 bytes
_RCopyUpDone:
.endmacro

; The same going down, from just below r1:r0 to just below r19:r18.
.macro	_RCopyDown
	tst	Ftmp2
	breq	_RCopyDownBlock
_RCopyDownStep:
	movw	ZL,r0
	ld	Ftmp1,-Z
	movw	r0,ZL
	movw	ZL,r18
	st	-Z,Ftmp1
	movw	r18,ZL
	dec	Ftmp2
	brne	_RCopyDownStep
_RCopyDownBlock:
	ldd	Ftmp1,Y+1
	subi	Ftmp1,1
	brcs	_RCopyDownDone
	std	Y+1,Ftmp1
	rjmp	_RCopyDownStep
_RCopyDownDone:
.endmacro
.endif
; ---- flash beyond 64 KB, for the initialised data
; _RFlashPage expr   sets RAMPZ to the 64 KB page of the byte address expr
; _RFlashByte reg    loads the flash byte at RAMPZ:Z into reg and steps Z
.if FLASHEND > 0x7FFF
.macro	_RFlashPage
	ldi	r18,byte3(@0)
	out	RAMPZ,r18
.endmacro
.macro	_RFlashByte
	elpm	@0,Z+
.endmacro
.else
.macro	_RFlashPage
.endmacro
.macro	_RFlashByte
	lpm	@0,Z+
.endmacro
.endif

; ---- pictured numeric output
; Puts the character in Ftmp1 before the others in the buffer; a full
; buffer takes no more, and neither does a pointer that no <# has set
; (RAM holds anything at power-up). Changes Z and Ftmp2.
.macro	_RHold
	lds	ZL,_RHLD
	lds	ZH,_RHLD+1
	cpi	ZL,low(_RPICTURE+1)
	ldi	Ftmp2,high(_RPICTURE+1)
	cpc	ZH,Ftmp2
	brlo	_RHoldFull
	cpi	ZL,low(_RPICTURE_END+1)
	ldi	Ftmp2,high(_RPICTURE_END+1)
	cpc	ZH,Ftmp2
	brsh	_RHoldFull
	st	-Z,Ftmp1
	sts	_RHLD,ZL
	sts	_RHLD+1,ZH
_RHoldFull:
.endmacro

; ---- EEPROM
; The older devices name the write enable bits EEWE and EEMWE.
.ifdef EEPE
.equ	_REEPE		= EEPE
.equ	_REEMPE		= EEMPE
.else
.equ	_REEPE		= EEWE
.equ	_REEMPE		= EEMWE
.endif
; Waits until a write in progress has ended, then sets the address Z.
.macro	_REEAddress
_REEWait:
	sbic	EECR,_REEPE
	rjmp	_REEWait
	out	EEARH,ZH
	out	EEARL,ZL
.endmacro
; Ftmp1 = the EEPROM byte at Z.
.macro	_REERead
	_REEAddress
	sbi	EECR,EERE
	in	Ftmp1,EEDR
.endmacro
; Writes Ftmp1 to the EEPROM byte at Z: the write enable must follow the
; master write enable within four cycles, so interrupts wait meanwhile.
; The write goes on for some milliseconds; the next access waits for it.
; Changes Ftmp2.
.macro	_REEWrite
	_REEAddress
	out	EEDR,Ftmp1
	in	Ftmp2,SREG
	cli
	sbi	EECR,_REEMPE
	sbi	EECR,_REEPE
	out	SREG,Ftmp2
.endmacro
