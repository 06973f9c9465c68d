// The adapter behind a device node: which bus it is, what it can do, and
// who owns an address on it.
#pragma once

#include <string>

// /dev/i2c-N, and N (-1 when the node is no i2c-dev node).
struct Bus {
    std::string device;
    int number = -1;
};
Bus BusOf(const std::string &device);

// The kernel driver bound to address on bus (sysfs), or "".
std::string DriverAt(const Bus &bus, unsigned address);

// Who owns address on fd's bus: "" when no kernel driver does. The kernel
// decides (I2C_SLAVE refused with EBUSY, which counts drivers behind a mux
// too, and needs no sysfs); sysfs only names the driver, "a kernel driver"
// where it cannot.
std::string Owner(int fd, const Bus &bus, unsigned address);

// The adapter's name as sysfs gives it, or "".
std::string AdapterName(int number);

// The adapter's I2C_FUNC_* bits; false when it cannot be asked.
bool Functions(int fd, unsigned long &funcs);

// The bus opened for transfers, or -1 (said on stderr) when it cannot be
// opened or its adapter does not run plain I2C transfers, which every
// tessel transaction is.
int OpenForI2c(const Bus &bus);
