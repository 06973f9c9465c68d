// The support layer tessel relies on: debug switch, trace and error lines,
// hex dumps and the SMBus CRC-8. Plain C names, so a program may link its
// own implementation of these six instead of libtessel_support.a.
#ifndef TESSEL_LOG_H
#define TESSEL_LOG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

extern int gDebug;  // non-zero turns the traces on

// One debug trace line on stdout. Leaves errno as it found it.
void Log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// One error line on stderr. Leaves errno as it found it.
void LogError(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Hex dump of len bytes under label; offset is the address shown for the
// first byte. Leaves errno as it found it.
void DumpMem(const char *label, unsigned offset, const void *data, unsigned len);

// CRC-8/SMBUS: polynomial x^8 + x^2 + x + 1 (0x07), MSB first, no final XOR.
uint8_t Crc8(uint8_t crc, uint8_t data);
uint8_t Crc8Block(uint8_t crc, const void *data, unsigned len);

#ifdef __cplusplus
}
#endif

#endif
