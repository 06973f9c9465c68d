#include <i2c.h>

int main()
{
    // No i2c-dev node here: the call must fail cleanly, not crash.
    I2cSetSlaveAddress(-1, 0x0B, 1);
    uint8_t word[2];
    return I2cReadBytes(-1, 0x09, word, 2) == -1 ? 0 : 1;
}
