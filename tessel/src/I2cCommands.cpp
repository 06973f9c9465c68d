// SMBus commands: each is its trace and one I2cTransfer with fixed block
// flags; the result is I2cTransfer's, unchanged.

#include "i2c.h"

#include "Log.h"

#include <inttypes.h>

namespace {

constexpr uint8_t Block(uint8_t len)
{
    return static_cast<uint8_t>(len | I2C_LEN_BLOCK);
}

}  // namespace

//   protocol                    wrData  wrLen        rdData  rdLen        count
// Write Byte / Write Word        data    as passed    -       0            -
int I2cWriteBytes(int i2cDev, uint8_t cmd, const uint8_t *wrByte, uint8_t wrLen)
{
    if (gDebug)
        Log("----- I2cWriteBytes cmd: 0x%02x wrLen: 0x%02x -----\n", cmd, wrLen);
    return I2cTransfer(i2cDev, cmd, wrByte, wrLen, nullptr, 0, nullptr);
}

// Write Byte                     &copy   1            -       0            -
int I2cWriteByte(int i2cDev, uint8_t cmd, uint8_t wrByte)
{
    if (gDebug)
        Log("----- I2cWriteByte cmd: 0x%02x wrByte:0x%02x -----\n", cmd, wrByte);
    if (gDebug)
        Log("----- &wrByte = 0x%08" PRIxPTR " wrByte = 0x%02x -----\n",
            reinterpret_cast<uintptr_t>(&wrByte), wrByte);
    return I2cTransfer(i2cDev, cmd, &wrByte, 1, nullptr, 0, nullptr);
}

// Block Write                    data    block        -       0            -
int I2cWriteBlock(int i2cDev, uint8_t cmd, const uint8_t *wrData, uint8_t wrLen)
{
    if (gDebug)
        Log("----- I2cWriteBlock cmd: 0x%02x wrLen:0x%02x -----\n", cmd, wrLen);
    return I2cTransfer(i2cDev, cmd, wrData, Block(wrLen), nullptr, 0, nullptr);
}

// Read Byte / Read Word          -       0            data    as passed    -
int I2cReadBytes(int i2cDev, uint8_t cmd, uint8_t *rdByte, uint8_t rdLen)
{
    if (gDebug)
        Log("----- I2cReadBytes cmd: 0x%02x rdLen: 0x%02x -----\n", cmd, rdLen);
    return I2cTransfer(i2cDev, cmd, nullptr, 0, rdByte, rdLen, nullptr);
}

// Read Byte                      -       0            data    1            -
int I2cReadByte(int i2cDev, uint8_t cmd, uint8_t *rdByte)
{
    if (gDebug)
        Log("----- I2cReadByte cmd: 0x%02x -----\n", cmd);
    return I2cTransfer(i2cDev, cmd, nullptr, 0, rdByte, 1, nullptr);
}

// Block Read                     -       0            data    block        yes
int I2cReadBlock(int i2cDev, uint8_t cmd, uint8_t *rdData, uint8_t rdLen, uint8_t *bytesReadp)
{
    if (gDebug)
        Log("----- I2cReadBlock cmd: 0x%02x rdLen:0x%02x -----\n", cmd, rdLen);
    return I2cTransfer(i2cDev, cmd, nullptr, 0, rdData, Block(rdLen), bytesReadp);
}

// Block Write-Block Read         data    block        data    block        yes
int I2cProcessBlock(int i2cDev, uint8_t cmd, const uint8_t *wrData, uint8_t wrLen,
                    uint8_t *rdData, uint8_t rdLen, uint8_t *bytesReadp)
{
    if (gDebug)
        Log("----- I2cProcessBlock cmd: 0x%02x wrLen:0x%02x rdLen:0x%02x -----\n", cmd, wrLen,
            rdLen);
    return I2cTransfer(i2cDev, cmd, wrData, Block(wrLen), rdData, Block(rdLen), bytesReadp);
}
