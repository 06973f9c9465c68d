// The command functions and raw transfers against a bus whose every answer
// comes from the fuzzer: the I2C_RDWR outcome (done, failed with an errno,
// fewer messages than given), each byte a device sends (counts and PEC
// included). The caller's buffers are exactly as large as the room asked
// for, so AddressSanitizer sees any byte written past them; every result
// must be one the library documents.
#include <i2c.h>
#include <Log.h>

#include "../test/wrap_ioctl.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kFd = 1000;  // never opened: every ioctl on it is ours
constexpr int kBusErrors[] = {ENXIO, EREMOTEIO, ETIMEDOUT, EAGAIN, EIO};
FuzzedDataProvider *gIn;
int gInjected;  // the errno the bus failed with, if any
int gCountByte;  // the first byte the device sent in the last read message

int Rdwr(i2c_rdwr_ioctl_data *data)
{
    FuzzedDataProvider &in = *gIn;
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        errno = gInjected = in.PickValueInArray(kBusErrors);
        return -1;
    case 1:
        return in.ConsumeIntegralInRange<int>(0, int(data->nmsgs) - 1);
    default:
        break;
    }
    for (unsigned i = 0; i < data->nmsgs; i++) {
        i2c_msg &msg = data->msgs[i];
        if (!(msg.flags & I2C_M_RD))
            continue;
        for (unsigned k = 0; k < msg.len; k++)
            msg.buf[k] = in.ConsumeIntegral<uint8_t>();
        if (msg.len > 0)
            gCountByte = msg.buf[0];
    }
    return int(data->nmsgs);
}

}  // namespace

int WrappedIoctl(int fd, unsigned long request, unsigned long arg)
{
    if (fd != kFd)
        return __real_ioctl(fd, request, arg);
    if (request == I2C_RDWR)
        return Rdwr(reinterpret_cast<i2c_rdwr_ioctl_data *>(arg));
    return 0;  // I2C_SLAVE and friends: accepted
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    gIn = &in;
    gInjected = 0;
    gCountByte = -1;
    gDebug = in.ConsumeBool() ? 1 : 0;
    I2cSetSlaveAddress(kFd, in.ConsumeIntegral<uint8_t>(), in.ConsumeBool());
    const int op = in.ConsumeIntegralInRange(0, 12);
    const uint8_t cmd = in.ConsumeIntegral<uint8_t>();
    // Lengths beyond the limit, block flags included.
    const uint8_t wrLen = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(0, 34) : in.ConsumeIntegral<uint8_t>();
    const uint8_t rdLen = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(0, 34) : in.ConsumeIntegral<uint8_t>();
    // Raw transfers take whole byte counts; the others' bit 7 is the block flag.
    const bool raw = op == 8 || op == 10;
    const unsigned wrRoom = raw ? wrLen : wrLen & 0x7F, rdRoom = raw ? rdLen : rdLen & 0x7F;
    std::vector<uint8_t> wr = in.ConsumeBytes<uint8_t>(wrRoom);
    wr.resize(wrRoom);
    std::vector<uint8_t> rd(rdRoom);
    const bool nullBuffers = in.ConsumeIntegralInRange(0, 15) == 0;
    const uint8_t *wrp = nullBuffers ? nullptr : wr.data();
    uint8_t *rdp = nullBuffers ? nullptr : rd.data();
    uint8_t count = 0xEE, byte = 0;
    unsigned room = rdRoom;  // what a count may report at most
    int rc;
    switch (op) {
    case 0: rc = I2cTransfer(kFd, cmd, wrp, wrLen, rdp, rdLen, &count); break;
    case 1: rc = I2cReadBlock(kFd, cmd, rdp, rdLen, &count); break;
    case 2: rc = I2cProcessBlock(kFd, cmd, wrp, wrLen, rdp, rdLen, &count); break;
    case 3: rc = I2cReadBytes(kFd, cmd, rdp, rdLen); break;
    case 4: rc = I2cReadByte(kFd, cmd, &byte); break;
    case 5: rc = I2cWriteBytes(kFd, cmd, wrp, wrLen); break;
    case 6: rc = I2cWriteBlock(kFd, cmd, wrp, wrLen); break;
    case 7: rc = I2cWriteByte(kFd, cmd, cmd); break;
    case 8: rc = I2cSendBytes(kFd, wrp, wrLen); break;
    case 9: rc = I2cSendByte(kFd, cmd); break;
    case 10: rc = I2cReceiveBytes(kFd, rdp, rdLen); break;
    case 11: rc = I2cReceiveByte(kFd, &byte); break;
    default: rc = I2cTransfer(kFd, cmd, wrp, wrLen, rdp, rdLen, nullptr); break;
    }
    if (rc == -1) {
        const int e = errno;
        if (e != ENOBUFS && e != EINVAL && e != EIO && e != gInjected)
            abort();  // an errno no one set
    } else if (rc != 0 && rc != EMSGSIZE && rc != EBADMSG) {
        abort();
    }
    // A call that reports a count and ran wrote the count it delivered: a
    // block read the device's count, at most the room; any other read the
    // room. One that did not run reports nothing, or 0.
    if (op == 0 || op == 1 || op == 2) {
        const bool block = op != 0 || (rdLen & I2C_LEN_BLOCK);
        if (rc == -1 && count != 0xEE && count != 0)
            abort();
        if (rc != -1 && room == 0 && count != 0)
            abort();
        if (rc != -1 && room > 0 &&
            count != (block ? unsigned(gCountByte) < room ? unsigned(gCountByte) : room : room))
            abort();
    }
    return 0;
}
