\\ Counts the presses of a button on PD2 (to ground, with the pull-up on) and
\\ blinks PB5, the Arduino Uno's LED, every 100 ms meanwhile. Uses the
\\ run-time's register words (&PORTB pushes the address of PORTB, #PB5 the
\\ mask of its bit 5), so it builds for every device that has these pins.
\\ Try it in the simulator, the button pressed from 500 to 600 ms:
\\   mirtolanc --device atmega328p --run --pin PD2=1@0ms --pin PD2=0@500ms --pin PD2=1@600ms counter.4th
VARIABLE presses
VARIABLE last

: led-toggle &PORTB C@ #PB5 XOR &PORTB C! ;
: pressed? ( -- flag ) &PIND C@ #PD2 AND 0= ;
: count ( -- ) pressed? DUP last C@ <> IF DUP IF presses C@ 1+ presses C! THEN THEN last C! ;

: main
  #PB5 &DDRB C!
  #PD2 &PORTD C!          \\ the pull-up of PD2
  BEGIN led-toggle 100 0 DO count 1 MS LOOP AGAIN ;
