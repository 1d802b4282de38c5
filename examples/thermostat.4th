\\ A thermostat for a heater on PB0 of an ATmega328P: on below 18 degrees,
\\ off above 22, and as it was in between, so that the relay does not
\\ chatter. The readings pass a median filter that ignores a lone spike.
\\ thermostat-test.4th beside it tests these words on the simulated chip:
\\   mirtolanc --device atmega328p --test thermostat.4th thermostat-test.4th
HEX
: HEATPORT 0 25 ;       \\ PORTB in data memory: two cells, high byte first
: HEATDDR 0 24 ;        \\ DDRB
DECIMAL
VARIABLE heating        \\ true while the heater runs

: cold 18 ;        \\ below it the heater goes on
: warm 22 ;        \\ above it, off

\\ the middle one of three readings
: median3 ( a b c -- m ) 2DUP MAX >R MIN MAX R> MIN ;

\\ the heater's next state for the temperature t and its state now
: decide ( t on -- on' ) OVER cold < IF 2DROP TRUE ELSE SWAP warm > IF DROP FALSE THEN THEN ;

: heater! ( on -- ) IF HEATPORT C@ 1 OR ELSE HEATPORT C@ 254 AND THEN HEATPORT C! ;

: step ( t -- ) heating C@ decide DUP heating C! heater! ;

\\ a cold morning warming up, then cooling: three readings each time
: main 1 HEATDDR C! FALSE heating C!
  15 16 15 median3 step  19 60 20 median3 step  23 23 24 median3 step
  21 20 21 median3 step  17 17 16 median3 step ;
