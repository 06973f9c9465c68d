// tessel-smbus's look at whole buses: scan and list.
#include "survey.h"

#include "json.h"
#include "tool.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// How a scan asks whether a device is there.
enum class Probe { QuickWrite, Read };

// The outcome of one probe: it answered, nothing acknowledged, or the
// probe itself failed (errno in err).
enum class Heard { Answer, Nothing, Failed };

// A quick write (the address byte and nothing else) where that is harmless
// and the adapter sends one, else a one-byte read, as i2cdetect probes:
// EEPROMs (0x50-0x5f) take a write as their address pointer, write-protect
// switches (0x30-0x37) as a command.
Heard Ask(int fd, unsigned address, Probe probe, int &err)
{
    const bool read = probe == Probe::Read || (address >= 0x30 && address <= 0x37) ||
                      (address >= 0x50 && address <= 0x5f);
    uint8_t byte = 0;
    i2c_msg msg = {.addr = uint16_t(address), .flags = uint16_t(read ? I2C_M_RD : 0),
                   .len = uint16_t(read ? 1 : 0), .buf = &byte};
    i2c_rdwr_ioctl_data transfer = {.msgs = &msg, .nmsgs = 1};
    if (ioctl(fd, I2C_RDWR, &transfer) == 1)
        return Heard::Answer;
    err = errno;
    // No acknowledge, as adapters report it; a timeout is a bus held low
    // or a device that stretches the clock, and no answer either.
    return err == ENXIO || err == EREMOTEIO || err == ETIMEDOUT || err == EAGAIN ? Heard::Nothing : Heard::Failed;
}

}  // namespace

int Scan(const Bus &bus, bool all, bool json)
{
    const int fd = OpenForI2c(bus);
    if (fd < 0)
        return kBusError;
    unsigned long funcs = 0;
    Functions(fd, funcs);
    // Without quick writes every address is probed by a read, which an
    // adapter running plain I2C always does.
    const Probe probe = funcs & I2C_FUNC_SMBUS_QUICK ? Probe::QuickWrite : Probe::Read;
    if (probe == Probe::Read)
        fprintf(stderr, "tessel-smbus: %s sends no quick writes; probing every address by a one-byte read, "
                        "which some write-only devices do not answer\n", bus.device.c_str());
    const unsigned first = all ? 0x00 : 0x08, last = all ? 0x7f : 0x77;
    enum class Cell { Owned, Answer, Nothing, Failed };
    Cell cell[0x80] = {};
    std::string owners[0x80];
    unsigned failed = 0;
    int failure = 0;
    for (unsigned address = first; address <= last; address++) {
        int err = 0;
        owners[address] = Owner(fd, bus, address);
        const Heard h = owners[address].empty() ? Ask(fd, address, probe, err) : Heard::Nothing;
        cell[address] = !owners[address].empty() ? Cell::Owned
                        : h == Heard::Answer     ? Cell::Answer
                        : h == Heard::Nothing    ? Cell::Nothing
                                                 : Cell::Failed;
        if (h == Heard::Failed)
            failed++, failure = err;
    }
    close(fd);
    const int status = failed ? kBusError : kDone;
    if (failed)
        fprintf(stderr, "tessel-smbus: %u of the probes on %s failed other than by no acknowledge (%s): the scan "
                        "cannot say what is there (?? in the grid)\n", failed, bus.device.c_str(), strerror(failure));
    if (json) {
        Json out;
        out.Object().Put("bus", bus.device).Put("probe", probe == Probe::QuickWrite ? "quick write" : "read");
        out.Put("exit", status).Array("answering");
        for (unsigned a = first; a <= last; a++)
            if (cell[a] == Cell::Answer)
                out.Put(nullptr, a);
        out.Close().Array("owned");
        for (unsigned a = first; a <= last; a++)
            if (cell[a] == Cell::Owned)
                out.Object().Put("address", a).Put("by", owners[a]).Close();
        out.Close().Array("failed");
        for (unsigned a = first; a <= last; a++)
            if (cell[a] == Cell::Failed)
                out.Put(nullptr, a);
        printf("%s\n", out.Close().Close().Text().c_str());
        return status;
    }
    printf("%s\n", kGridHeader);
    for (unsigned row = 0; row < 0x80; row += 16) {
        printf("%02x: ", row);
        for (unsigned address = row; address < row + 16; address++) {
            if (address < first || address > last)
                printf("   ");
            else if (cell[address] == Cell::Answer)
                printf("%02x ", address);
            else
                printf("%s ", cell[address] == Cell::Owned ? "UU" : cell[address] == Cell::Nothing ? "--" : "??");
        }
        printf("\n");
    }
    return status;
}

int List(bool json)
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
    Json out;
    out.Object().Array("buses");
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
        if (json)
            out.Object().Put("bus", n).Put("device", device).Put("type", type).Put("name", AdapterName(n)).Close();
        else
            printf("i2c-%d\t%-10s\t%-32s\t%s\n", n, type, AdapterName(n).c_str(), what);
    }
    if (json)
        printf("%s\n", out.Close().Close().Text().c_str());
    return kDone;
}
