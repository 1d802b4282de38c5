/* Fibonacci numbers 1 to 13, iterative, and the greatest common divisors
   of three pairs by Euclid. */
#include "harness.h"

uint8_t result[16];
uint8_t pairs[6];

void init(void)
{
    static const uint8_t given[6] = {221, 119, 233, 144, 252, 198};
    for (uint8_t i = 0; i < 6; i++)
        pairs[i] = given[i];
}

#ifndef BASELINE
static uint8_t fib(uint8_t n)
{
    uint8_t a = 0, b = 1;
    while (n--) {
        uint8_t t = a + b;
        a = b;
        b = t;
    }
    return a;
}

static uint8_t gcd(uint8_t a, uint8_t b)
{
    while (b) {
        uint8_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

void kernel(void)
{
    for (uint8_t i = 0; i < 13; i++)
        result[i] = fib(i + 1);
    for (uint8_t i = 0; i < 3; i++)
        result[13 + i] = gcd(pairs[2 * i], pairs[2 * i + 1]);
}
#endif
