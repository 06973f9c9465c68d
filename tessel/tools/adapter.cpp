// tessel-smbus's look at a whole bus: who owns an address, what the adapter
// can do, scan, dump, list.
#include "tool.h"

#include <i2c.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

constexpr unsigned kI2cDevMajor = 89;
const char kGridHeader[] = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f";

std::string Sysfs(const std::string &path)
{
    std::string text;
    if (FILE *f = fopen(path.c_str(), "r")) {
        char line[256];
        if (fgets(line, sizeof line, f))
            text = line;
        fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string AdapterName(int number)
{
    return Sysfs("/sys/bus/i2c/devices/i2c-" + std::to_string(number) + "/name");
}

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

bool Functions(int fd, unsigned long &funcs)
{
    return ioctl(fd, I2C_FUNCS, &funcs) == 0;
}

}  // namespace

Bus BusOf(const std::string &device)
{
    Bus bus;
    bus.device = device;
    struct stat st;
    if (stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) == kI2cDevMajor)
        bus.number = int(minor(st.st_rdev));
    return bus;
}

std::string DriverAt(const Bus &bus, unsigned address)
{
    if (bus.number < 0)
        return "";
    char client[32];
    snprintf(client, sizeof client, "%d-%04x", bus.number, address);
    char target[512];
    const ssize_t n = readlink(("/sys/bus/i2c/devices/" + std::string(client) + "/driver").c_str(), target,
                               sizeof target - 1);
    if (n <= 0)
        return "";
    target[n] = 0;
    const char *name = strrchr(target, '/');
    return name ? name + 1 : target;
}

int OpenForI2c(const Bus &bus)
{
    const int fd = open(bus.device.c_str(), O_RDWR);
    if (fd < 0) {
        fprintf(stderr, "tessel-smbus: cannot open %s: %s\n", bus.device.c_str(), strerror(errno));
        return -1;
    }
    unsigned long funcs = 0;
    if (!Functions(fd, funcs)) {
        fprintf(stderr, "tessel-smbus: cannot ask %s which transfers its adapter runs: %s\n", bus.device.c_str(),
                strerror(errno));
    } else if (!(funcs & I2C_FUNC_I2C)) {
        const std::string name = bus.number < 0 ? "" : AdapterName(bus.number);
        fprintf(stderr,
                "tessel-smbus: %s%s%s%s is an SMBus-only adapter; tessel runs every transaction as a plain I2C "
                "transfer, which this adapter cannot do\n",
                bus.device.c_str(), name.empty() ? "" : " (", name.c_str(), name.empty() ? "" : ")");
    } else {
        return fd;
    }
    close(fd);
    return -1;
}

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
