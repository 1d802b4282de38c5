/* CRC-8 (polynomial 0x07, from 0) of 32 bytes. */
#include "harness.h"

uint8_t result[1];
uint8_t data[32];

void init(void)
{
    for (uint8_t i = 0; i < 32; i++)
        data[i] = i * 7 + 1;
}

#ifndef BASELINE
void kernel(void)
{
    uint8_t crc = 0;
    for (uint8_t i = 0; i < 32; i++) {
        crc ^= data[i];
        for (uint8_t b = 0; b < 8; b++)
            crc = crc & 0x80 ? (uint8_t)(crc << 1) ^ 0x07 : (uint8_t)(crc << 1);
    }
    result[0] = crc;
}
#endif
