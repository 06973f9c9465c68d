// tessel-smbus's look at whole buses: scan and list.
#include "survey.h"

#include "tool.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

// Whether a device answers at address: a quick write (the address byte and
// nothing else) where that is harmless, a one-byte read where a write could
// change something, as i2cdetect probes: EEPROMs (0x50-0x5f), whose write
// would set the address pointer, and write-protect switches (0x30-0x37).
bool Answers(int fd, unsigned address)
{
    const bool read = (address >= 0x30 && address <= 0x37) || (address >= 0x50 && address <= 0x5f);
    uint8_t byte = 0;
    i2c_msg msg = {.addr = uint16_t(address), .flags = uint16_t(read ? I2C_M_RD : 0),
                   .len = uint16_t(read ? 1 : 0), .buf = &byte};
    i2c_rdwr_ioctl_data transfer = {.msgs = &msg, .nmsgs = 1};
    return ioctl(fd, I2C_RDWR, &transfer) == 1;
}

}  // namespace

int Scan(const Bus &bus, bool all)
{
    const int fd = OpenForI2c(bus);
    if (fd < 0)
        return kBusError;
    const unsigned first = all ? 0x00 : 0x08, last = all ? 0x7f : 0x77;
    printf("%s\n", kGridHeader);
    for (unsigned row = 0; row < 0x80; row += 16) {
        printf("%02x: ", row);
        for (unsigned address = row; address < row + 16; address++) {
            if (address < first || address > last)
                printf("   ");
            else if (!DriverAt(bus, address).empty())
                printf("UU ");
            else if (Answers(fd, address))
                printf("%02x ", address);
            else
                printf("-- ");
        }
        printf("\n");
    }
    close(fd);
    return kDone;
}

int List()
{
    std::vector<int> numbers;
    if (DIR *dir = opendir("/sys/bus/i2c/devices")) {
        while (dirent *e = readdir(dir)) {
            int n;
            char rest;
            if (sscanf(e->d_name, "i2c-%d%c", &n, &rest) == 1)
                numbers.push_back(n);
        }
        closedir(dir);
    }
    std::sort(numbers.begin(), numbers.end());
    for (int n : numbers) {
        const std::string device = "/dev/i2c-" + std::to_string(n);
        const char *type = "unknown", *what = "";
        const int fd = open(device.c_str(), O_RDWR);
        unsigned long funcs = 0;
        if (fd >= 0 && Functions(fd, funcs)) {
            const bool i2c = funcs & I2C_FUNC_I2C;
            type = i2c ? "i2c" : "smbus";
            what = i2c ? "I2C adapter" : "SMBus adapter";
        }
        if (fd >= 0)
            close(fd);
        printf("i2c-%d\t%-10s\t%-32s\t%s\n", n, type, AdapterName(n).c_str(), what);
    }
    return kDone;
}
