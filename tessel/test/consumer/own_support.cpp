#include <i2c.h>
#include <Log.h>

#include <errno.h>

extern "C" {
int gDebug = 0;
int errorLines = 0;
void Log(const char *, ...) {}
void LogError(const char *, ...) { errorLines++; }
void DumpMem(const char *, unsigned, const void *, unsigned) {}
uint8_t Crc8(uint8_t crc, uint8_t) { return crc; }
uint8_t Crc8Block(uint8_t crc, const void *, unsigned) { return crc; }
}

int main()
{
    uint8_t byte;
    const int rc = I2cReadByte(-1, 0x01, &byte);
    return rc == -1 && errno == EBADF && errorLines == 1 ? 0 : 1;
}
