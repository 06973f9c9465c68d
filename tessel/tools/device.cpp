// tessel-smbus on the selected device: one transaction, or a register dump.
#include "device.h"

#include "tool.h"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

namespace {

// Registers first to last, one Read Byte Data each, as i2cdump prints them.
int Dump(int fd, unsigned first, unsigned last)
{
    printf("%s    0123456789abcdef\n", kGridHeader);
    unsigned read = 0;
    for (unsigned row = first & ~0xFu; row <= last; row += 16) {
        int value[16];  // -2 outside the range, -1 no answer
        printf("%02x: ", row);
        for (unsigned k = 0; k < 16; k++) {
            const unsigned reg = row + k;
            uint8_t byte = 0;
            value[k] = reg < first || reg > last ? -2 : I2cReadByte(fd, uint8_t(reg), &byte) == 0 ? byte : -1;
            if (value[k] >= 0)
                read++, printf("%02x ", value[k]);
            else
                printf(value[k] == -1 ? "XX " : "   ");
        }
        printf("   ");
        for (int v : value)
            putchar(v == -2 ? ' ' : v == -1 ? 'X' : v == 0 || v == 0xff ? '.' : v < 32 || v >= 127 ? '?' : v);
        printf("\n");
    }
    if (read == 0) {
        fprintf(stderr, "tessel-smbus: no register answered\n");
        return kBusError;
    }
    return kDone;
}

}  // namespace

int Run(const Request &r)
{
    if (!r.force) {
        const std::string driver = DriverAt(r.bus, r.address);
        if (!driver.empty()) {
            fprintf(stderr,
                    "tessel-smbus: address 0x%02x on %s is owned by the kernel driver %s; -f to access it all the "
                    "same\n",
                    r.address, r.bus.device.c_str(), driver.c_str());
            return kBusError;
        }
    }
    const int fd = OpenForI2c(r.bus);
    if (fd < 0)
        return kBusError;
    I2cSetSlaveAddress(fd, I2C_Addr_t(r.address), r.pec);
    if (r.mode == Mode::Dump) {
        const int status = Dump(fd, r.first, r.last);
        close(fd);
        return status;
    }
    Reply reply;
    const int rc = r.t->run(fd, r, reply);
    const int err = errno;
    close(fd);
    return Report(r, reply, rc, err);
}
