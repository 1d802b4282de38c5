/* A triple loop: the triples of 0 to 9 whose sum is a multiple of 4, counted. */
#include "harness.h"

uint8_t result[1];

void init(void) {}

#ifndef BASELINE
void kernel(void)
{
    uint8_t count = 0;
    for (uint8_t i = 0; i < 10; i++)
        for (uint8_t j = 0; j < 10; j++)
            for (uint8_t k = 0; k < 10; k++)
                if (((i + j + k) & 3) == 0)
                    count++;
    result[0] = count;
}
#endif
