// The adapter behind a device node: its bus number, what it can do, who
// owns an address on it, and opening it for plain I2C transfers.
#include "adapter.h"

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

namespace {

constexpr unsigned kI2cDevMajor = 89;

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

}  // namespace

std::string AdapterName(int number)
{
    return Sysfs("/sys/bus/i2c/devices/i2c-" + std::to_string(number) + "/name");
}

bool Functions(int fd, unsigned long &funcs)
{
    return ioctl(fd, I2C_FUNCS, &funcs) == 0;
}

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

std::string Owner(int fd, const Bus &bus, unsigned address)
{
    if (ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(address)) == 0 || errno != EBUSY)
        return "";
    const std::string driver = DriverAt(bus, address);
    return driver.empty() ? "a kernel driver" : "the kernel driver " + driver;
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
