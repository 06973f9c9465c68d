#include "SimBus.h"
#include "i2c.h"
#include "Log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using sim::Bytes;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

constexpr uint16_t kAddr = 0x2C;

uint8_t Pec(const Bytes &wire)
{
    return Crc8Block(0, wire.data(), unsigned(wire.size()));
}

Bytes Concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Bus : public testing::Test {
protected:
    sim::SimBus bus;
    sim::Device &dev = bus.add(kAddr);

    void Select(bool crc)
    {
        dev.pec = crc;
        I2cSetSlaveAddress(bus.fd(), kAddr, crc);
        bus.ioctls = 0;
    }
    const std::vector<sim::BusMsg> &Last() { return bus.transfers.back(); }
};

// ---- support layer --------------------------------------------------------

TEST(Support, Crc8IsSmbusPec)
{
    const char check[] = "123456789";
    EXPECT_EQ(Crc8Block(0, check, 9), 0xF4);
    uint8_t crc = 0;
    for (int i = 0; i < 9; i++)
        crc = Crc8(crc, uint8_t(check[i]));
    EXPECT_EQ(crc, 0xF4);
}

TEST(Support, LoggingLeavesErrnoAlone)
{
    CaptureStdout();
    CaptureStderr();
    errno = ENXIO;
    Log("trace %d\n", 1);
    LogError("error %s\n", "line");
    const uint8_t bytes[20] = {};
    DumpMem("dump", 0, bytes, sizeof bytes);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(GetCapturedStderr(), "error line\n");
    EXPECT_NE(GetCapturedStdout().find("trace 1\n"), std::string::npos);
}

// ---- slave selection ------------------------------------------------------

TEST_F(Bus, BeforeAnySelectionTransfersGoToAddressZeroWithoutPec)
{
    bus.add(0x00);
    ASSERT_EQ(I2cWriteByte(bus.fd(), 0x01, 0x02), 0);
    EXPECT_EQ(Last()[0].addr, 0);
    EXPECT_EQ(Last()[0].bytes, (Bytes{0x01, 0x02}));
}

TEST_F(Bus, RefusedAddressStaysSelectedButNothingReachesTheBus)
{
    CaptureStderr();
    I2cSetSlaveAddress(bus.fd(), 0x90, 1);
    EXPECT_EQ(GetCapturedStderr(),
              "I2cSetSlaveAddress: Error trying to set slave address to 0x90 (22 Invalid argument)\n");
    // 0x90 << 1 would lose its top bit and reach 0x10 (or 0x48 with R/W).
    const int before = bus.ioctls;
    CaptureStderr();
    errno = 0;
    EXPECT_EQ(I2cWriteByte(bus.fd(), 0x10, 0x5A), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(GetCapturedStderr(), "I2cTransfer: slave address 0x90 is not a 7-bit address\n");
    EXPECT_EQ(I2cSendByte(bus.fd(), 1), -1);
    uint8_t byte;
    EXPECT_EQ(I2cReceiveByte(bus.fd(), &byte), -1);
    EXPECT_EQ(bus.ioctls, before);
}

TEST(Selection, KernelRefusalIsReportedWithTheErrnoItLeaves)
{
    // Not an i2c-dev node: the real kernel (ENOTTY), or qemu-user (ENOSYS), refuses.
    const int fd = open("/dev/null", O_RDWR);
    CaptureStderr();
    errno = 0;
    I2cSetSlaveAddress(fd, 0x2C, 0);
    const int err = errno;
    const std::string line = GetCapturedStderr();
    close(fd);
    EXPECT_NE(err, 0);
    EXPECT_EQ(line, "I2cSetSlaveAddress: Error trying to set slave address to 0x2c (" +
                        std::to_string(err) + " " + strerror(err) + ")\n");
}

// ---- write transactions ---------------------------------------------------

struct WriteCase {
    const char *name;
    bool crc;
    uint8_t cmd;
    Bytes data;
    uint8_t wrLen;
    Bytes wire;  // write message without PEC; the PEC is checked separately
    bool pecSent;
};

void PrintTo(const WriteCase &c, std::ostream *os)
{
    *os << c.name;
}

class Writes : public Bus, public testing::WithParamInterface<WriteCase> {};

TEST_P(Writes, PutOneMessageWithTheLayoutAndPec)
{
    const WriteCase &c = GetParam();
    Select(c.crc);
    dev.blocks[0x40] = {};
    ASSERT_EQ(I2cTransfer(bus.fd(), c.cmd, c.data.data(), c.wrLen, nullptr, 0, nullptr), 0);
    ASSERT_EQ(bus.transfers.size(), 1u);
    ASSERT_EQ(Last().size(), 1u);
    const sim::BusMsg &m = Last()[0];
    EXPECT_EQ(m.addr, kAddr);
    EXPECT_EQ(m.flags, 0);
    Bytes expect = c.wire;
    if (c.pecSent)
        expect.push_back(Pec(Concat({uint8_t(kAddr << 1)}, c.wire)));
    EXPECT_EQ(m.bytes, expect);
    EXPECT_EQ(m.len, expect.size());
    EXPECT_EQ(dev.pecRejects, 0);
    EXPECT_EQ(bus.ioctls, 1);
}

Bytes Seq(unsigned n)
{
    Bytes b;
    for (unsigned i = 0; i < n; i++)
        b.push_back(uint8_t(i * 7 + 1));
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Tessel, Writes,
    testing::Values(
        WriteCase{"BareCommandNoPecEvenWithCrc", true, 0x33, {}, 0, {0x33}, false},
        WriteCase{"WriteByte", false, 0x10, {0x5A}, 1, {0x10, 0x5A}, false},
        WriteCase{"WriteByteWithPec", true, 0x10, {0x5A}, 1, {0x10, 0x5A}, true},
        WriteCase{"WriteWordBufferOrder", true, 0x11, {0x34, 0x12}, 2, {0x11, 0x34, 0x12}, true},
        WriteCase{"BlockOfZero", false, 0x40, {}, 0x80, {0x40, 0x00}, false},
        WriteCase{"BlockOfZeroWithPec", true, 0x40, {}, 0x80, {0x40, 0x00}, true},
        WriteCase{"BlockOf32WithPecIs35Bytes", true, 0x40, Seq(32), 0xA0,
                  Concat({0x40, 32}, Seq(32)), true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Bus, CommandWritesMapOntoTheirBlockFlags)
{
    Select(true);
    dev.blocks[0x40] = {};
    const Bytes data = {1, 2, 3, 4, 5};
    ASSERT_EQ(I2cWriteBlock(bus.fd(), 0x40, data.data(), 5), 0);
    ASSERT_EQ(I2cWriteBlock(bus.fd(), 0x40, data.data(), 0x85), 0);
    EXPECT_EQ(bus.transfers[0][0].bytes, bus.transfers[1][0].bytes);
    EXPECT_EQ(bus.transfers[0][0].bytes[1], 5);
    // WriteBytes passes the length through: 0x82 is a block of 2.
    ASSERT_EQ(I2cWriteBytes(bus.fd(), 0x40, data.data(), 0x82), 0);
    EXPECT_EQ(Bytes(Last()[0].bytes.begin(), Last()[0].bytes.end() - 1), (Bytes{0x40, 2, 1, 2}));
    // A process call without a read half is a block write that carries its own PEC.
    ASSERT_EQ(I2cProcessBlock(bus.fd(), 0x40, data.data(), 2, nullptr, 0, nullptr), 0);
    EXPECT_EQ(Last().size(), 1u);
    EXPECT_EQ(dev.writes.size(), 4u);
    EXPECT_EQ(dev.pecRejects, 0);
}

TEST_F(Bus, WrongPecIsRefusedByTheDevice)
{
    Select(true);
    I2cSetSlaveAddress(bus.fd(), kAddr, 0);  // library off, device still checks
    CaptureStderr();
    EXPECT_EQ(I2cWriteByte(bus.fd(), 0x10, 0x5A), -1);
    EXPECT_EQ(errno, EREMOTEIO);
    EXPECT_NE(GetCapturedStderr().find("I2cTransfer: ioctl failed: "), std::string::npos);
    EXPECT_EQ(dev.pecRejects, 1);
}

// ---- refused arguments ----------------------------------------------------

TEST_F(Bus, OversizedCountsAreRefusedBeforeTheBusWithTheWriteCheckFirst)
{
    Select(true);
    uint8_t buf[64];
    struct {
        uint8_t wrLen, rdLen;
        const char *line;
    } cases[] = {
        {0x21, 0, "I2cTransfer: wrLen too big: 33, max is 32\n"},
        {0, 0xA1, "I2cTransfer: rdLen too big: 33, max is 32\n"},
        {0xFF, 0xFF, "I2cTransfer: wrLen too big: 127, max is 32\n"},
    };
    for (const auto &c : cases) {
        uint8_t count = 0xEE;
        CaptureStderr();
        EXPECT_EQ(I2cTransfer(bus.fd(), 0, buf, c.wrLen, buf, c.rdLen, &count), -1);
        EXPECT_EQ(errno, ENOBUFS);
        EXPECT_EQ(GetCapturedStderr(), c.line);
        EXPECT_EQ(count, 0);
    }
    CaptureStderr();
    EXPECT_EQ(I2cWriteBlock(bus.fd(), 0x40, buf, 33), -1);
    EXPECT_EQ(GetCapturedStderr(), "I2cTransfer: wrLen too big: 33, max is 32\n");
    EXPECT_EQ(bus.ioctls, 0);
}

TEST_F(Bus, NullBufferWithACountIsRefusedBeforeTheBus)
{
    Select(false);
    uint8_t count = 0xEE;
    CaptureStderr();
    EXPECT_EQ(I2cTransfer(bus.fd(), 0, nullptr, 2, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(I2cReadBlock(bus.fd(), 0, nullptr, 4, &count), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(I2cSendBytes(bus.fd(), nullptr, 1), -1);
    EXPECT_EQ(I2cReceiveByte(bus.fd(), nullptr), -1);
    EXPECT_EQ(GetCapturedStderr(),
              "I2cTransfer: wrData is null for 2 bytes\n"
              "I2cTransfer: rdData is null for 4 bytes\n"
              "I2cSendBytes: wrData is null for 1 bytes\n"
              "I2cReceiveBytes: rdData is null for 1 bytes\n");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(bus.ioctls, 0);
}

// ---- read transactions ----------------------------------------------------

TEST_F(Bus, PlainReadWithPecReadsOneMoreByteAndVerifiesIt)
{
    Select(true);
    dev.regs[0x08] = 0x34;
    dev.regs[0x09] = 0x12;
    uint8_t word[2];
    ASSERT_EQ(I2cReadBytes(bus.fd(), 0x08, word, 2), 0);
    ASSERT_EQ(Last().size(), 2u);
    EXPECT_EQ(Last()[0].bytes, (Bytes{0x08}));
    EXPECT_EQ(Last()[1].flags, I2C_M_RD);
    EXPECT_EQ(Last()[1].len, 3);
    EXPECT_EQ(Last()[1].bytes[2], Pec({kAddr << 1, 0x08, kAddr << 1 | 1, 0x34, 0x12}));
    EXPECT_EQ(word[0], 0x34);
    EXPECT_EQ(word[1], 0x12);
    uint8_t byte = 0;
    ASSERT_EQ(I2cReadByte(bus.fd(), 0x09, &byte), 0);
    EXPECT_EQ(byte, 0x12);
    EXPECT_EQ(bus.ioctls, 2);
}

TEST_F(Bus, ReadBytesOfZeroOnlyWritesTheCommand)
{
    Select(true);
    uint8_t untouched = 0xEE;
    ASSERT_EQ(I2cReadBytes(bus.fd(), 0x08, &untouched, 0), 0);
    EXPECT_EQ(Last().size(), 1u);
    EXPECT_EQ(Last()[0].bytes, (Bytes{0x08}));
    EXPECT_EQ(untouched, 0xEE);
}

struct BlockCase {
    const char *name;
    bool crc;
    uint8_t rdLen;
    Bytes device;        // what the block register holds
    int countOverride;   // count byte the device claims instead, or -1
    bool corruptPec;
    int rc;
    unsigned delivered;  // bytes copied and reported
};

void PrintTo(const BlockCase &c, std::ostream *os)
{
    *os << c.name;
}

class BlockReads : public Bus, public testing::WithParamInterface<BlockCase> {};

TEST_P(BlockReads, DeliverTheDeviceCountAndVerifyThePecBehindIt)
{
    const BlockCase &c = GetParam();
    Select(c.crc);
    dev.blocks[0x99] = c.device;
    dev.countOverride = c.countOverride;
    dev.corruptPec = c.corruptPec;
    uint8_t out[40];
    memset(out, 0xEE, sizeof out);
    uint8_t count = 0xEE;
    CaptureStderr();
    EXPECT_EQ(I2cReadBlock(bus.fd(), 0x99, out, c.rdLen, &count), c.rc);
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(count, c.delivered);
    const Bytes &wire = Last()[1].bytes;
    EXPECT_EQ(Last()[1].len, 1 + c.rdLen + (c.crc ? 1 : 0));
    EXPECT_EQ(Bytes(out, out + c.delivered), Bytes(wire.begin() + 1, wire.begin() + 1 + c.delivered));
    EXPECT_EQ(out[c.delivered], 0xEE) << "copied past the delivered count";
    if (c.countOverride > c.rdLen) {
        EXPECT_NE(err.find("I2cTransfer: length is too big: " + std::to_string(c.countOverride) +
                           " max: " + std::to_string(c.rdLen) + "\n"),
                  std::string::npos);
    }
    if (c.rc == EBADMSG) {
        EXPECT_NE(err.find("I2cTransfer: CRC failed: Rcvd: 0x"), std::string::npos);
    }
    if (c.rc == 0) {
        EXPECT_EQ(err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tessel, BlockReads,
    testing::Values(
        BlockCase{"ShortBlockInLargeRoom", false, 16, {1, 2, 3, 4}, -1, false, 0, 4},
        BlockCase{"ShortBlockWithPecAtFifthByte", true, 8, {7, 8, 9}, -1, false, 0, 3},
        BlockCase{"CorruptPecKeepsTheData", true, 16, {1, 2, 3, 4}, -1, true, EBADMSG, 4},
        BlockCase{"EmptyBlock", true, 8, {}, -1, false, 0, 0},
        BlockCase{"FullBlock", true, 32, Seq(32), -1, false, 0, 32},
        BlockCase{"CountAboveRoomDeliversTheRoom", false, 4, Seq(9), -1, false, EMSGSIZE, 4},
        // One above the room is where an off-by-one in the count check writes
        // past the caller's buffer.
        BlockCase{"CountOneAboveRoom", false, 4, Seq(5), -1, false, EMSGSIZE, 4},
        BlockCase{"CountOneAboveAFullRoom", false, 32, Seq(33), -1, false, EMSGSIZE, 32},
        // With PEC on, the byte read as PEC is the device's next data byte.
        BlockCase{"CountOneAboveRoomWithPecIsBadMsg", true, 4, Seq(5), -1, false, EBADMSG, 4},
        BlockCase{"CountAboveRoomAndBadPecIsBadMsg", true, 4, Seq(4), 9, false, EBADMSG, 4}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Bus, ProcessBlockSendsBothHalvesInOneTransferWithOnePec)
{
    Select(true);
    dev.blocks[0x50] = {};
    const Bytes in = {1, 2, 3};
    uint8_t out[8] = {};
    uint8_t count = 0;
    ASSERT_EQ(I2cProcessBlock(bus.fd(), 0x50, in.data(), 3, out, 8, &count), 0);
    ASSERT_EQ(Last().size(), 2u);
    EXPECT_EQ(Last()[0].bytes, (Bytes{0x50, 3, 1, 2, 3}));  // no PEC on the write half
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{3, 2, 1}));
    // A null count pointer works the same.
    EXPECT_EQ(I2cReadBlock(bus.fd(), 0x50, out, 8, nullptr), 0);
}

// ---- bus failures ---------------------------------------------------------

TEST_F(Bus, FailedTransfersDeliverNothingAndKeepTheKernelErrno)
{
    Select(true);
    dev.blocks[0x99] = {1, 2, 3};
    for (int err : {ENXIO, EREMOTEIO}) {
        bus.failErrno = err;
        uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        uint8_t count = 0xEE;
        CaptureStderr();
        EXPECT_EQ(I2cReadBlock(bus.fd(), 0x99, out, 4, &count), -1);
        EXPECT_EQ(errno, err);
        EXPECT_EQ(GetCapturedStderr(), "I2cTransfer: ioctl failed: " + std::string(strerror(err)) +
                                           " (" + std::to_string(err) + ")\n");
        EXPECT_EQ(count, 0);
        EXPECT_EQ(out[0], 0xEE);
        EXPECT_EQ(I2cReadByte(bus.fd(), 0x99, out), -1);
        EXPECT_EQ(out[0], 0xEE);
    }
}

TEST_F(Bus, NothingAnswersAtAnotherAddress)
{
    I2cSetSlaveAddress(bus.fd(), 0x51, 0);
    CaptureStderr();
    EXPECT_EQ(I2cSendByte(bus.fd(), 0), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(GetCapturedStderr(), "I2cSendBytes: ioctl failed: No such device or address (6)\n");
}

TEST_F(Bus, ShortTransferIsAFailureNotASuccess)
{
    Select(false);
    bus.shortBy = 1;
    uint8_t out[2];
    uint8_t count = 0xEE;
    CaptureStderr();
    EXPECT_EQ(I2cTransfer(bus.fd(), 0x08, nullptr, 0, out, 0x82, &count), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(I2cReceiveBytes(bus.fd(), out, 2), -1);
    EXPECT_EQ(GetCapturedStderr(),
              "I2cTransfer: short transfer: 1 of 2 messages\n"
              "I2cReceiveBytes: short transfer: 0 of 1 messages\n");
}

// ---- raw transfers --------------------------------------------------------

TEST_F(Bus, RawTransfersNeverAddCommandCountOrPec)
{
    Select(true);
    dev.pec = false;
    dev.regs[0x20] = 0x11;
    dev.regs[0x21] = 0x22;
    ASSERT_EQ(I2cSendBytes(bus.fd(), nullptr, 0), 0);
    EXPECT_EQ(Last()[0].len, 0);
    ASSERT_EQ(I2cSendByte(bus.fd(), 0x20), 0);  // sets the register pointer
    EXPECT_EQ(Last()[0].bytes, (Bytes{0x20}));
    uint8_t in[2] = {};
    ASSERT_EQ(I2cReceiveBytes(bus.fd(), in, 2), 0);
    EXPECT_EQ(Last()[0].flags, I2C_M_RD);
    EXPECT_EQ(Last()[0].len, 2);
    EXPECT_EQ(in[1], 0x22);
    ASSERT_EQ(I2cReceiveByte(bus.fd(), in), 0);
    EXPECT_EQ(in[0], 0x11);
    EXPECT_EQ(bus.ioctls, 4);
}

// ---- traces ---------------------------------------------------------------

TEST_F(Bus, TracesShowTheTransactionAsSent)
{
    Select(true);
    gDebug = 1;
    CaptureStdout();
    ASSERT_EQ(I2cWriteByte(bus.fd(), 0x10, 0x5A), 0);
    const uint8_t none = 0;
    ASSERT_EQ(I2cTransfer(bus.fd(), 0x33, &none, 0, nullptr, 0, nullptr), 0);
    gDebug = 0;
    const std::string out = GetCapturedStdout();
    const uint8_t pec = Pec({kAddr << 1, 0x10, 0x5A});
    char dump[64];
    snprintf(dump, sizeof dump, "  0000: 10 5a %02x\n", pec);
    for (const std::string &line :
         {std::string("----- I2cWriteByte cmd: 0x10 wrByte:0x5a -----\n"),
          std::string("----- I2cTransfer: cmd:0x10 wrLen:0x01 rdLen:0x00 wrBlock:0 rdBlock:0 -----\n"),
          std::string(" *wrData:0x5a -----\n"), std::string("msg[ 0 ].addr  = 0x2c\n"),
          std::string("msg[ 0 ].flags = 0x0000\n"), std::string("msg[ 0 ].len   = 3\n"),
          std::string("I2cTransfer W (3 bytes)\n") + dump})
        EXPECT_NE(out.find(line), std::string::npos) << line << "in\n" << out;
    // A write of 0 bytes shows the pointer alone.
    const size_t second = out.find("cmd:0x33");
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(out.find("*wrData", second), std::string::npos);
}

}  // namespace
