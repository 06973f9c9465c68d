#include "SimBus.h"

#include "Log.h"
#include "wrap_ioctl.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <unistd.h>


namespace sim {
namespace {

std::map<int, SimBus *> &Buses()
{
    static std::map<int, SimBus *> buses;
    return buses;
}

uint8_t AddrByte(uint16_t addr, bool read)
{
    return static_cast<uint8_t>((addr << 1) | (read ? 1 : 0));
}

// What a device answers to a read of len bytes after the write half `wr`
// (empty for a raw read): the bytes it drives, then idle-high 0xFF.
Bytes Answer(Device &dev, uint16_t addr, const Bytes &wr, uint16_t len)
{
    Bytes out;
    if (wr.empty()) {
        for (uint16_t i = 0; i < len; i++)
            out.push_back(dev.regs[uint8_t(dev.pointer + i)]);
        return out;
    }
    const uint8_t cmd = wr[0];
    auto block = dev.blocks.find(cmd);
    auto word = dev.words.find(cmd);
    auto byte = dev.bytes.find(cmd);
    if (byte != dev.bytes.end()) {
        out.push_back(byte->second);
    } else if (word != dev.words.end()) {
        out.push_back(uint8_t(word->second));
        out.push_back(uint8_t(word->second >> 8));
    } else if (block != dev.blocks.end()) {
        const Bytes &data = block->second;
        const unsigned count = dev.countOverride >= 0 ? unsigned(dev.countOverride) : data.size();
        out.push_back(uint8_t(count));
        for (unsigned i = 0; i < count; i++)
            out.push_back(i < data.size() ? data[i] : uint8_t(0xA0 + i));
    } else {
        // Plain registers: the PEC, if any, is the last byte the master clocks.
        for (unsigned i = 0; i + (dev.pec ? 1 : 0) < len; i++)
            out.push_back(dev.regs[uint8_t(cmd + i)]);
    }
    if (dev.pec) {
        uint8_t crc = Crc8(0, AddrByte(addr, false));
        crc = Crc8Block(crc, wr.data(), unsigned(wr.size()));
        crc = Crc8(crc, AddrByte(addr, true));
        crc = Crc8Block(crc, out.data(), unsigned(out.size()));
        out.push_back(dev.corruptPec ? uint8_t(~crc) : crc);
    }
    out.resize(len, 0xFF);
    return out;
}

// A write message. Returns false when the device NACKs it.
bool Accept(Device &dev, uint16_t addr, Bytes wr, bool readFollows)
{
    if (wr.empty())
        return true;
    const uint8_t cmd = wr[0];
    if (std::find(dev.nacks.begin(), dev.nacks.end(), cmd) != dev.nacks.end())
        return false;
    if (dev.pec && !readFollows && wr.size() > 1) {
        const uint8_t sent = wr.back();
        wr.pop_back();
        const uint8_t crc = Crc8Block(Crc8(0, AddrByte(addr, false)), wr.data(), unsigned(wr.size()));
        if (sent != crc) {
            dev.pecRejects++;
            return false;
        }
    }
    auto block = dev.blocks.find(cmd);
    if (block != dev.blocks.end() && wr.size() > 1) {
        const unsigned count = wr[1];
        if (wr.size() != 2 + count)
            return false;
        // A block process call answers with the written bytes reversed.
        block->second.assign(wr.rbegin(), wr.rend() - 2);
        if (!readFollows)
            block->second.assign(wr.begin() + 2, wr.end());
    } else {
        for (size_t i = 1; i < wr.size(); i++)
            dev.regs[uint8_t(cmd + i - 1)] = wr[i];
        dev.pointer = cmd;
    }
    dev.writes.push_back(wr);
    return true;
}

}  // namespace

SimBus::SimBus() : fd_(::open("/dev/null", O_RDONLY))
{
    Buses()[fd_] = this;
}

SimBus::~SimBus()
{
    Buses().erase(fd_);
    ::close(fd_);
}

int SimBus::ioctl(unsigned long request, unsigned long arg)
{
    ioctls++;
    if (request == I2C_SLAVE) {
        if (arg > 0x7F) {  // as the kernel does without I2C_TENBIT
            errno = EINVAL;
            return -1;
        }
        if (std::find(owned.begin(), owned.end(), uint16_t(arg)) != owned.end()) {
            errno = EBUSY;
            return -1;
        }
        slaveAddr = long(arg);
        return 0;
    }
    if (request == I2C_FUNCS) {
        *reinterpret_cast<unsigned long *>(arg) = funcs;
        return 0;
    }
    if (request == I2C_RDWR)
        return rdwr(reinterpret_cast<i2c_rdwr_ioctl_data *>(arg));
    errno = ENOTTY;
    return -1;
}

int SimBus::rdwr(i2c_rdwr_ioctl_data *data)
{
    if (data->nmsgs == 0 || data->nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) {
        errno = EINVAL;
        return -1;
    }
    std::vector<BusMsg> seen;
    for (unsigned i = 0; i < data->nmsgs; i++) {
        const i2c_msg &m = data->msgs[i];
        BusMsg rec{m.addr, m.flags, m.len, {}};
        if (!(m.flags & I2C_M_RD))
            rec.bytes.assign(m.buf, m.buf + m.len);
        seen.push_back(rec);
    }
    transfers.push_back(seen);

    if (failErrno) {
        errno = failErrno;
        return -1;
    }
    for (unsigned i = 0; i < data->nmsgs; i++) {
        const i2c_msg &m = data->msgs[i];
        auto found = devices_.find(m.addr);
        if (found == devices_.end()) {
            errno = ENXIO;
            return -1;
        }
        Device &dev = found->second;
        if (m.flags & I2C_M_RD) {
            const Bytes wr = i > 0 ? transfers.back()[i - 1].bytes : Bytes{};
            Bytes out = Answer(dev, m.addr, wr, m.len);
            if (m.flags & I2C_M_RECV_LEN) {
                // i2c-dev's rule: buf[0] the bytes besides the data, room for 32.
                if (!(funcs & I2C_FUNC_SMBUS_READ_BLOCK_DATA) || m.len < m.buf[0] + I2C_SMBUS_BLOCK_MAX ||
                    m.buf[0] < 1) {
                    errno = EINVAL;
                    return -1;
                }
                const unsigned extra = m.buf[0];
                out = Answer(dev, m.addr, wr, uint16_t(1 + I2C_SMBUS_BLOCK_MAX + 1));
                if (out[0] > I2C_SMBUS_BLOCK_MAX) {
                    errno = EPROTO;
                    return -1;
                }
                out.resize(out[0] + extra);
            }
            std::copy(out.begin(), out.end(), m.buf);
            transfers.back()[i].bytes = out;
        } else {
            const bool readFollows = i + 1 < data->nmsgs && (data->msgs[i + 1].flags & I2C_M_RD);
            if (!Accept(dev, m.addr, transfers.back()[i].bytes, readFollows)) {
                errno = EREMOTEIO;
                return -1;
            }
        }
    }
    return int(data->nmsgs) - shortBy;
}

}  // namespace sim

int WrappedIoctl(int fd, unsigned long request, unsigned long arg)
{
    auto bus = sim::Buses().find(fd);
    if (bus != sim::Buses().end())
        return bus->second->ioctl(request, arg);
    return __real_ioctl(fd, request, arg);
}
