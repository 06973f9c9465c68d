// tessel-smbus on the selected device: one transaction, or a register dump.
#include "device.h"

#include "json.h"
#include "pmbus.h"
#include "tool.h"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

namespace {

// Registers first to last, one Read Byte Data each, as i2cdump prints them
// (or as one JSON object).
int Dump(int fd, const Request &r)
{
    int value[256];  // -1 no answer
    unsigned read = 0;
    for (unsigned reg = r.first; reg <= r.last; reg++) {
        uint8_t byte = 0;
        value[reg] = I2cReadByte(fd, uint8_t(reg), &byte) == 0 ? byte : -1;
        read += value[reg] >= 0;
    }
    const int status = read ? kDone : kBusError;
    if (!read)
        fprintf(stderr, "tessel-smbus: no register answered\n");
    if (r.json) {
        Json json;
        json.Object();
        PutDevice(json, r);
        json.Put("exit", status).Object("registers");  // null: no answer
        for (unsigned reg = r.first; reg <= r.last; reg++) {
            char key[8];
            snprintf(key, sizeof key, "0x%02x", reg);
            if (value[reg] < 0)
                json.Null(key);
            else
                json.Put(key, value[reg]);
        }
        printf("%s\n", json.Close().Close().Text().c_str());
        return status;
    }
    printf("%s    0123456789abcdef\n", kGridHeader);
    for (unsigned row = r.first & ~0xFu; row <= r.last; row += 16) {
        printf("%02x: ", row);
        for (unsigned reg = row; reg < row + 16; reg++) {
            const int v = reg < r.first || reg > r.last ? -2 : value[reg];
            if (v >= 0)
                printf("%02x ", v);
            else
                printf(v == -1 ? "XX " : "   ");
        }
        printf("   ");
        for (unsigned reg = row; reg < row + 16; reg++) {
            const int v = reg < r.first || reg > r.last ? -2 : value[reg];
            putchar(v == -2 ? ' ' : v == -1 ? 'X' : v == 0 || v == 0xff ? '.' : v < 32 || v >= 127 ? '?' : v);
        }
        printf("\n");
    }
    return status;
}

}  // namespace

int Run(const Request &r)
{
    const int fd = OpenForI2c(r.bus);
    if (fd < 0)
        return kBusError;
    if (!r.force) {
        const std::string owner = Owner(fd, r.bus, r.address);
        if (!owner.empty()) {
            fprintf(stderr, "tessel-smbus: address 0x%02x on %s is owned by %s; -f to access it all the same\n",
                    r.address, r.bus.device.c_str(), owner.c_str());
            close(fd);
            return kBusError;
        }
    }
    int status;
    if (r.mode == Mode::Pmbus) {
        status = Pmbus(fd, r);  // it sets PEC as the device's CAPABILITY says
    } else {
        I2cSetSlaveAddress(fd, I2C_Addr_t(r.address), r.pec);
        Reply reply;
        const int rc = r.mode == Mode::Dump ? 0 : r.t->run(fd, r, reply);
        const int err = errno;
        status = r.mode == Mode::Dump ? Dump(fd, r) : Report(r, reply, rc, err);
    }
    close(fd);
    return status;
}
