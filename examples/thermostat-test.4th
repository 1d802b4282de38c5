\\ Tests of the words of thermostat.4th, run on the simulated chip, each
\\ from reset; T{ ... -> ... }T compares what the words leave with the
\\ values after ->. Run them with the program before them:
\\   mirtolanc --device atmega328p --test thermostat.4th thermostat-test.4th

: test-median
  T{ 1 2 3 median3 -> 2 }T
  T{ 3 1 2 median3 -> 2 }T
  T{ 20 99 21 median3 -> 21 }T ;        \\ the spike is ignored

: test-decide
  T{ 17 FALSE decide -> TRUE }T         \\ cold: on
  T{ 20 FALSE decide -> FALSE }T        \\ in the band: as it was
  T{ 20 TRUE decide -> TRUE }T
  T{ 23 TRUE decide -> FALSE }T ;       \\ warm: off

: test-heater-pin
  T{ TRUE heater! HEATPORT C@ 1 AND -> 1 }T
  T{ FALSE heater! HEATPORT C@ 1 AND -> 0 }T ;

: test-steps
  FALSE heating C!
  T{ 15 step heating C@ -> TRUE }T
  T{ 21 step heating C@ -> TRUE }T      \\ still warming
  T{ 23 step heating C@ -> FALSE }T ;
