// Transfer core: module state, slave selection, the general command
// transaction and the raw transfers.

#include "i2c.h"

#include "Log.h"

#include <errno.h>
#include <inttypes.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <string.h>
#include <sys/ioctl.h>

namespace {

I2C_Addr_t gI2cAddr;  // every transfer goes here
int gUseCrc;          // non-zero: append / verify the packet error code

constexpr unsigned kMaxData = I2C_TRANSFER_MAX_DATA;
constexpr unsigned kMaxAddr = 0x7F;

// ---- packet error code -------------------------------------------------
// The PEC is a CRC-8 over every byte of the transaction as it appears on the
// wire, starting from 0: write address byte, command, write run, and for a
// combined transfer the read address byte and the read run.

uint8_t PecAddress(uint8_t crc, bool read)
{
    return Crc8(crc, static_cast<uint8_t>((gI2cAddr << 1) | (read ? 1 : 0)));
}

uint8_t PecBytes(uint8_t crc, const uint8_t *bytes, unsigned len)
{
    return Crc8Block(crc, bytes, len);
}

// Appends the PEC behind the first len bytes of msg's buffer.
void PecAppend(i2c_msg &msg, uint8_t crc)
{
    msg.buf[msg.len++] = crc;
}

// ---- the one place that runs messages on the bus ------------------------

void TraceMsg(int index, const i2c_msg &msg)
{
    Log("msg[ %d ].addr  = 0x%02x\n", index, msg.addr);
    Log("msg[ %d ].flags = 0x%04x\n", index, msg.flags);
    Log("msg[ %d ].len   = %d\n", index, msg.len);
}

// The address byte carries only 7 bits: a wider one would reach another
// device, so nothing goes on the bus while one is selected.
bool AddressUsable(const char *who)
{
    if (gI2cAddr <= kMaxAddr)
        return true;
    LogError("%s: slave address 0x%02x is not a 7-bit address\n", who, gI2cAddr);
    errno = EINVAL;
    return false;
}

// Runs the messages as one combined transaction. 0 when the adapter ran them
// all; -1 otherwise, with the kernel's errno, or EIO when the adapter
// reports fewer messages than it was given.
int RunMessages(int i2cDev, i2c_msg *msgs, unsigned nmsgs, const char *who)
{
    i2c_rdwr_ioctl_data rdwr = {.msgs = msgs, .nmsgs = nmsgs};
    const int done = ioctl(i2cDev, I2C_RDWR, &rdwr);
    if (done < 0) {
        const int err = errno;
        LogError("%s: ioctl failed: %s (%d)\n", who, strerror(err), err);
        return -1;
    }
    if (static_cast<unsigned>(done) != nmsgs) {
        LogError("%s: short transfer: %d of %u messages\n", who, done, nmsgs);
        errno = EIO;
        return -1;
    }
    return 0;
}

bool DataPresent(const void *data, unsigned len, const char *who, const char *what)
{
    if (len == 0 || data)
        return true;
    LogError("%s: %s is null for %u bytes\n", who, what, len);
    errno = EINVAL;
    return false;
}

}  // namespace

void I2cSetSlaveAddress(int i2cDev, I2C_Addr_t i2cAddr, int useCrc)
{
    // The new settings hold even when the kernel refuses the address.
    gI2cAddr = i2cAddr;
    gUseCrc = useCrc;
    if (gDebug)
        Log("----- I2cSetSlaveAddress i2cAddr:0x%02x useCrc:%d -----\n", i2cAddr, useCrc);
    if (ioctl(i2cDev, I2C_SLAVE, static_cast<unsigned long>(gI2cAddr)) < 0) {
        const int err = errno;
        LogError("I2cSetSlaveAddress: Error trying to set slave address to 0x%02x (%d %s)\n",
                 gI2cAddr, err, strerror(err));
    }
}

// Bus layout of one command transaction (n = wrLen & 0x7F, m = rdLen & 0x7F):
//
//   write half  S addr+W  cmd  [count=n]  data[n]  [PEC]
//                         PEC only without a read half and with a non-empty
//                         run (count byte and data): a bare command has none.
//   read half   Sr addr+R  [count]  data[m]  [PEC]       (only when m > 0)
//                         the device's count says how many of the m data
//                         bytes are real; its PEC follows right behind them.
//
// Both halves travel in one I2C_RDWR ioctl.
int I2cTransfer(int i2cDev, uint8_t cmd, const uint8_t *wrData, uint8_t wrLen,
                uint8_t *rdData, uint8_t rdLen, uint8_t *bytesReadp)
{
    i2c_msg msg[2];
    uint8_t wrBuf[1 + 1 + kMaxData + 1];  // cmd, count, data, PEC
    uint8_t rdBuf[1 + kMaxData + 1];      // count, data, PEC
    uint8_t crc = 0;
    int rc = 0;
    const uint8_t wrBlock = (wrLen & I2C_LEN_BLOCK) ? 1 : 0;
    const uint8_t rdBlock = (rdLen & I2C_LEN_BLOCK) ? 1 : 0;
    const unsigned n = wrLen & ~I2C_LEN_BLOCK & 0xFF;
    const unsigned m = rdLen & ~I2C_LEN_BLOCK & 0xFF;

    if (gDebug) {
        Log("----- I2cTransfer: cmd:0x%02x wrLen:0x%02x rdLen:0x%02x wrBlock:%d rdBlock:%d -----\n",
            cmd, wrLen, rdLen, wrBlock, rdBlock);
        // With nothing to write there may be no byte behind the pointer.
        if (wrData && n > 0)
            Log("----- wrData:0x%08" PRIxPTR " *wrData:0x%02x -----\n",
                reinterpret_cast<uintptr_t>(wrData), *wrData);
        else if (wrData)
            Log("----- wrData:0x%08" PRIxPTR " -----\n", reinterpret_cast<uintptr_t>(wrData));
    }

    if (bytesReadp)
        *bytesReadp = 0;

    if (n > kMaxData) {
        LogError("I2cTransfer: wrLen too big: %d, max is %d\n", n, kMaxData);
        errno = ENOBUFS;
        return -1;
    }
    if (m > kMaxData) {
        LogError("I2cTransfer: rdLen too big: %d, max is %d\n", m, kMaxData);
        errno = ENOBUFS;
        return -1;
    }
    if (!DataPresent(wrData, n, "I2cTransfer", "wrData") ||
        !DataPresent(rdData, m, "I2cTransfer", "rdData") || !AddressUsable("I2cTransfer"))
        return -1;

    // Write half.
    const unsigned run = wrBlock + n;
    msg[0] = {.addr = gI2cAddr, .flags = 0, .len = static_cast<__u16>(1 + run), .buf = wrBuf};
    if (gUseCrc)
        crc = Crc8(PecAddress(crc, false), cmd);
    wrBuf[0] = cmd;
    if (wrBlock)
        wrBuf[1] = static_cast<uint8_t>(n);
    if (n > 0)
        memcpy(wrBuf + 1 + wrBlock, wrData, n);
    if (run > 0 && gUseCrc) {
        crc = PecBytes(crc, wrBuf + 1, run);
        if (m == 0)
            PecAppend(msg[0], crc);
    }
    if (gDebug) {
        TraceMsg(0, msg[0]);
        DumpMem("I2cTransfer W", 0, wrBuf, msg[0].len);
    }

    // Read half.
    unsigned nmsgs = 1;
    if (m > 0) {
        msg[1] = {.addr = gI2cAddr,
                  .flags = I2C_M_RD,
                  .len = static_cast<__u16>(m + rdBlock + (gUseCrc ? 1 : 0)),
                  .buf = rdBuf};
        nmsgs = 2;
        if (gUseCrc)
            crc = PecAddress(crc, true);
        if (gDebug)
            TraceMsg(1, msg[1]);
    }

    if (RunMessages(i2cDev, msg, nmsgs, "I2cTransfer") < 0)
        return -1;

    if (m > 0) {
        unsigned k = m;  // data bytes delivered
        if (rdBlock) {
            if (rdBuf[0] > m) {
                LogError("I2cTransfer: length is too big: %d max: %d\n", rdBuf[0], m);
                rc = EMSGSIZE;
            } else {
                k = rdBuf[0];
            }
        }
        if (gUseCrc) {
            crc = PecBytes(crc, rdBuf, rdBlock + k);
            const uint8_t rcvd = rdBuf[rdBlock + k];
            if (rcvd != crc) {
                LogError("I2cTransfer: CRC failed: Rcvd: 0x%02x, expecting: 0x%02x\n", rcvd, crc);
                rc = EBADMSG;
            }
        }
        if (gDebug)
            DumpMem("I2cTransfer R", 0, rdBuf, msg[1].len);
        memcpy(rdData, rdBuf + rdBlock, k);
        if (bytesReadp)
            *bytesReadp = static_cast<uint8_t>(k);
    }
    return rc;
}

// Raw transfers point the one message straight at the caller's buffer.

int I2cSendBytes(int i2cDev, const uint8_t *wrData, uint8_t wrLen)
{
    if (gDebug)
        Log("----- I2cSendBytes wrLen = 0x%02x -----\n", wrLen);
    if (!DataPresent(wrData, wrLen, "I2cSendBytes", "wrData") || !AddressUsable("I2cSendBytes"))
        return -1;
    // The kernel only reads a write message's buffer.
    i2c_msg msg = {.addr = gI2cAddr, .flags = 0, .len = wrLen, .buf = const_cast<uint8_t *>(wrData)};
    return RunMessages(i2cDev, &msg, 1, "I2cSendBytes");
}

int I2cSendByte(int i2cDev, uint8_t wrByte)
{
    return I2cSendBytes(i2cDev, &wrByte, 1);
}

int I2cReceiveBytes(int i2cDev, uint8_t *rdData, uint8_t rdLen)
{
    if (gDebug)
        Log("----- I2cReceiveBytes -----\n");
    if (!DataPresent(rdData, rdLen, "I2cReceiveBytes", "rdData") ||
        !AddressUsable("I2cReceiveBytes"))
        return -1;
    i2c_msg msg = {.addr = gI2cAddr, .flags = I2C_M_RD, .len = rdLen, .buf = rdData};
    return RunMessages(i2cDev, &msg, 1, "I2cReceiveBytes");
}

int I2cReceiveByte(int i2cDev, uint8_t *rdByte)
{
    return I2cReceiveBytes(i2cDev, rdByte, 1);
}
