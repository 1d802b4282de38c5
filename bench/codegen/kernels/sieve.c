/* Sieve of Eratosthenes: the primes below 128, counted. */
#include <string.h>

#include "harness.h"

uint8_t result[1];
uint8_t flags[128];

void init(void) {}

#ifndef BASELINE
void kernel(void)
{
    memset(flags, 1, sizeof flags);
    for (uint8_t i = 2; i < 12; i++)
        if (flags[i])
            for (uint8_t j = i * i; j < 128; j += i)
                flags[j] = 0;
    uint8_t count = 0;
    for (uint8_t i = 2; i < 128; i++)
        if (flags[i])
            count++;
    result[0] = count;
}
#endif
