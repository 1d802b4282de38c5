/* Bubble sort of 16 bytes, unsigned, in place. */
#include "harness.h"

uint8_t result[16];

void init(void)
{
    uint8_t x = 7;
    for (uint8_t i = 0; i < 16; i++) {
        x = x * 5 + 3;
        result[i] = x;
    }
}

#ifndef BASELINE
void kernel(void)
{
    for (uint8_t i = 0; i < 15; i++)
        for (uint8_t j = 0; j < 15 - i; j++)
            if (result[j] > result[j + 1]) {
                uint8_t t = result[j];
                result[j] = result[j + 1];
                result[j + 1] = t;
            }
}
#endif
