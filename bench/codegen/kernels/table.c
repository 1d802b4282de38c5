/* A 10x10 multiplication table. */
#include "harness.h"

uint8_t result[100];

void init(void) {}

#ifndef BASELINE
void kernel(void)
{
    for (uint8_t i = 0; i < 10; i++)
        for (uint8_t j = 0; j < 10; j++)
            result[i * 10 + j] = (i + 1) * (j + 1);
}
#endif
