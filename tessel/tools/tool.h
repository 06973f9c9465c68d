// What the parts of tessel-smbus share: exit statuses, the bus behind a
// device node, and the commands that look at a whole bus.
#pragma once

#include <string>

// --debug: the library's own trace and error lines go to stderr too.
extern bool gLibraryLines;

// Exit statuses. i2c-tools' i2cget/i2cset exit 1 for a usage error and 2
// for a failed transfer; tessel-smbus tells more outcomes apart (README).
enum Status { kDone = 0, kBusError = 1, kUsage = 2, kCountTooLarge = 3, kPecMismatch = 4 };

// The adapter behind a device node: /dev/i2c-N, and N (-1 when the node is
// no i2c-dev node).
struct Bus {
    std::string device;
    int number = -1;
};
Bus BusOf(const std::string &device);

// The kernel driver bound to address on bus (sysfs), or "".
std::string DriverAt(const Bus &bus, unsigned address);

// The bus opened for transfers, or -1 (said on stderr) when it cannot be
// opened or its adapter does not run plain I2C transfers, which every
// tessel transaction is.
int OpenForI2c(const Bus &bus);

// The addresses that answer, as i2cdetect prints them; the reserved ones
// too when all.
int Scan(const Bus &bus, bool all);

// Registers first to last of the selected device, one Read Byte Data each,
// as i2cdump prints them.
int Dump(int fd, unsigned first, unsigned last);

// The buses, with their adapters' names, as i2cdetect -l lists them.
int List();
