// A simulated I2C adapter with SMBus 2.0 devices on it, standing in for the
// kernel at the i2c-dev ioctl boundary. Test programs are linked with
// --wrap=ioctl: ioctls on a descriptor that a SimBus owns reach it, all
// others go to the real kernel.
#pragma once

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

// One message as the adapter received it; for a read, the bytes the device
// put into the caller's buffer.
struct BusMsg {
    uint16_t addr;
    uint16_t flags;
    uint16_t len;
    Bytes bytes;
};

// A device with a register model: plain byte registers that auto-increment
// across multi-byte reads and writes, and block registers that hold a count
// and up to 255 bytes.
struct Device {
    bool pec = false;                   // checks written PEC, sends PEC on reads
    std::array<uint8_t, 256> regs{};    // plain registers
    std::map<uint8_t, Bytes> blocks;    // block registers by command
    // PMBus-style commands: a byte or a word (low byte first), then the PEC.
    std::map<uint8_t, uint8_t> bytes;
    std::map<uint8_t, uint16_t> words;
    uint8_t pointer = 0;                // register pointer for raw reads
    std::vector<uint8_t> nacks;         // commands it does not have: it NACKs them

    // Faults, each for every transfer until cleared.
    int countOverride = -1;   // block count byte sent instead of the true count
    bool corruptPec = false;  // the PEC byte the device sends is inverted

    // What it accepted.
    std::vector<Bytes> writes;  // write messages it acknowledged, PEC checked
    int pecRejects = 0;         // write messages whose PEC it NACKed
};

class SimBus {
public:
    SimBus();   // claims a descriptor number that is not open
    ~SimBus();
    int fd() const { return fd_; }

    Device &add(uint16_t addr) { return devices_[addr]; }

    // Adapter faults for the next transfers.
    int failErrno = 0;   // I2C_RDWR fails with this errno
    int shortBy = 0;     // I2C_RDWR reports this many fewer messages done

    // The adapter's I2C_FUNCS, and the addresses a kernel driver holds
    // (I2C_SLAVE answers EBUSY). A read with I2C_M_RECV_LEN ends at the
    // device's count, as the kernel's adapters do.
    unsigned long funcs = I2C_FUNC_I2C | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_READ_BLOCK_DATA;
    std::vector<uint16_t> owned;

    std::vector<std::vector<BusMsg>> transfers;  // one entry per I2C_RDWR
    int ioctls = 0;                              // every ioctl on fd()
    long slaveAddr = -1;                         // last I2C_SLAVE accepted

    int ioctl(unsigned long request, unsigned long arg);

private:
    int rdwr(i2c_rdwr_ioctl_data *data);
    int fd_;
    std::map<uint16_t, Device> devices_;
};

}  // namespace sim
