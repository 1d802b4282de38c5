\\ Blink for the ATmega328P: toggles pin PB0 about every quarter second at 16 MHz.
\\ Wire an LED with a resistor from PB0 to ground.
\\ The I/O registers appear in data memory at their I/O address plus $20,
\\ and an address goes on the stack as two cells, high byte first. The
\\ names must differ from the register names of the device definitions,
\\ such as PORTB, since the assembler knows those already (in any case).
HEX
: LEDPORT 0 25 ;
: LEDDDR 0 24 ;
DECIMAL
1 CONSTANT LED          \\ the bit of PB0 in PORTB and DDRB

: wait ( about 60 ms at 16 MHz ) 200 0 DO 250 0 DO LOOP LOOP ;
: pause wait wait wait wait ;
: toggle LEDPORT C@ LED XOR LEDPORT C! ;
: main LED LEDDDR C! BEGIN toggle pause AGAIN ;
