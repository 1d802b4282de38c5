/* Runs init(), then kernel() between two writes to GPIOR0 that the
   benchmark watches for, then sleeps with interrupts off (the end of a
   simulated run), as a compiled Forth program does when main returns. */
#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>

#include "harness.h"

int main(void)
{
    init();
    GPIOR0 = 1;
#ifndef BASELINE
    kernel();
#endif
    GPIOR0 = 2;
    cli();
    set_sleep_mode(SLEEP_MODE_PWR_DOWN);
    sleep_enable();
    sleep_cpu();
    for (;;) {
    }
}
