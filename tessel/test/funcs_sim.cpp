// For tessel-smbus-sim: the adapter's functions as TESSEL_SIM_FUNCS gives
// them (I2C_FUNCS on any descriptor); every other ioctl goes to the kernel.
// Stands in for an adapter that runs SMBus transactions only.
#include <linux/i2c-dev.h>

#include "wrap_ioctl.h"

#include <cstdlib>

int WrappedIoctl(int fd, unsigned long request, unsigned long arg)
{
    const char *funcs = std::getenv("TESSEL_SIM_FUNCS");
    if (request == I2C_FUNCS && funcs) {
        *reinterpret_cast<unsigned long *>(arg) = std::strtoul(funcs, nullptr, 0);
        return 0;
    }
    return __real_ioctl(fd, request, arg);
}
