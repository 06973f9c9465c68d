// Reads a smart battery gauge (SMBus address 0x0B) with the packet error code
// on: voltage and charge as words, the manufacturer name as a block.
#include "battery_gauge.h"

#include "i2c.h"

#include <stdio.h>

namespace {

constexpr uint8_t kVoltage = 0x09;           // mV, word
constexpr uint8_t kRelativeCharge = 0x0D;    // %, word
constexpr uint8_t kManufacturerName = 0x20;  // block

bool ReadWord(int fd, uint8_t cmd, unsigned *value)
{
    uint8_t word[2];
    const int rc = I2cReadBytes(fd, cmd, word, 2);  // SMBus Read Word, little endian
    if (rc != 0)
        return false;  // -1: see errno; EBADMSG: the PEC did not match
    *value = word[0] | word[1] << 8;
    return true;
}

}  // namespace

int ReportBattery(int fd, I2C_Addr_t addr)
{
    I2cSetSlaveAddress(fd, addr, 1);

    unsigned millivolts, percent;
    uint8_t name[32];
    uint8_t nameLen = 0;
    int status = 0;
    if (ReadWord(fd, kVoltage, &millivolts) && ReadWord(fd, kRelativeCharge, &percent))
        printf("voltage %u mV, charge %u %%\n", millivolts, percent);
    else
        status = 1;
    if (I2cReadBlock(fd, kManufacturerName, name, sizeof name, &nameLen) == 0)
        printf("manufacturer %.*s\n", nameLen, reinterpret_cast<const char *>(name));
    else
        status = 1;
    return status;
}
