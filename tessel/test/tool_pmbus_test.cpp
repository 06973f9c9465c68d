// tessel-smbus pmbus against a simulated PMBus device: PEC as CAPABILITY
// asks and as the options override it, block reads that end at the
// device's count, and "not supported" from a no acknowledge. QEMU's PMBus
// models send no PEC, so PEC is proven here.
#include "SimBus.h"
#include "adapter.h"
#include "pmbus.h"
#include "tool.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PmbusDevice : ::testing::Test {
    sim::SimBus bus;
    sim::Device &dev = bus.add(0x10);

    PmbusDevice()
    {
        dev.pec = true;
        dev.bytes[0x19] = 0xB0;  // CAPABILITY: PEC, 400 kHz, SMBALERT#
        dev.bytes[0x20] = 0x17;  // VOUT_MODE: LINEAR16, exponent -9
        dev.bytes[0x98] = 0x22;
        dev.words[0x79] = 0x0000;  // STATUS_WORD
        dev.words[0x8B] = 0x0180;  // READ_VOUT 0.75 V
        dev.words[0x88] = 0xD2F4;  // READ_VIN, LINEAR11 11.8125 V
        dev.words[0x8C] = 0xF7FF;  // READ_IOUT -0.25 A
        dev.blocks[0x99] = {'T', 'S', 'L'};
        dev.nacks = {0x00, 0x8D, 0x9A, 0x9B};  // no PAGE, READ_TEMPERATURE_1, MFR_MODEL, MFR_REVISION
    }

    // The JSON the tool prints, and its exit status.
    std::string Run(bool pec, bool noPec, int &status)
    {
        Request r;
        r.mode = Mode::Pmbus;
        r.bus.device = "sim";
        r.address = 0x10;
        r.json = true;
        r.pec = pec, r.noPec = noPec;
        ::testing::internal::CaptureStdout();
        status = Pmbus(bus.fd(), r);
        return ::testing::internal::GetCapturedStdout();
    }
};

TEST_F(PmbusDevice, ChecksPecWhereCapabilitySaysAndDecodesEachFormat)
{
    int status = -1;
    const std::string out = Run(false, false, status);
    EXPECT_EQ(status, kDone) << out;
    for (const char *fact : {
             "\"pec\":true",
             "\"MFR_ID\":{\"command\":153,\"text\":\"TSL\"",
             "\"READ_VOUT\":{\"command\":139,\"raw\":384,\"value\":0.75,\"unit\":\"V\",\"format\":\"LINEAR16, exponent -9\"",
             "\"READ_VIN\":{\"command\":136,\"raw\":54004,\"value\":11.8125,\"unit\":\"V\",\"format\":\"LINEAR11\"",
             "\"READ_IOUT\":{\"command\":140,\"raw\":63487,\"value\":-0.25",
             "\"READ_TEMPERATURE_1\":{\"command\":141,\"supported\":false,\"why\":\"no acknowledge\"}",
             "\"page\":null",
         })
        EXPECT_NE(out.find(fact), std::string::npos) << fact << "\n" << out;
    EXPECT_EQ(out.find("mismatch"), std::string::npos) << out;
    // The block read ended at the device's count: its PEC right behind "TSL".
    bool sawBlock = false;
    for (const auto &t : bus.transfers)
        if (t.size() == 2 && t[0].bytes == sim::Bytes{0x99}) {
            EXPECT_TRUE(t[1].flags & I2C_M_RECV_LEN);
            sawBlock = true;
        }
    EXPECT_TRUE(sawBlock);
}

TEST_F(PmbusDevice, APecMismatchIsMarkedPerReadAndExitsWithThePecStatus)
{
    dev.corruptPec = true;
    int status = -1;
    std::string out = Run(false, false, status);
    EXPECT_EQ(status, kPecMismatch);
    EXPECT_NE(out.find("\"READ_VOUT\":{\"command\":139,\"raw\":384,\"value\":0.75,\"unit\":\"V\",\"format\":"
                       "\"LINEAR16, exponent -9\",\"pec\":\"mismatch\"}"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"MFR_ID\":{\"command\":153,\"text\":\"TSL\",\"bytes\":[84,83,76],\"pec\":\"mismatch\"}"),
              std::string::npos)
        << out;
    // --no-pec: the same device read unchecked.
    out = Run(false, true, status);
    EXPECT_EQ(status, kDone) << out;
    EXPECT_NE(out.find("\"pec\":false"), std::string::npos);
    EXPECT_NE(out.find("--no-pec: reads are not checked though the device has PEC"), std::string::npos);
}

TEST_F(PmbusDevice, WithoutCountEndedReadsTheLibrarysBlockReadChecksThePecToo)
{
    bus.funcs = I2C_FUNC_I2C;
    int status = -1;
    std::string out = Run(false, false, status);
    EXPECT_EQ(status, kDone) << out;
    EXPECT_NE(out.find("\"MFR_ID\":{\"command\":153,\"text\":\"TSL\",\"bytes\":[84,83,76]}"), std::string::npos)
        << out;
    dev.corruptPec = true;
    out = Run(false, false, status);
    EXPECT_EQ(status, kPecMismatch) << out;
    // --pec on a device without PEC: every read is a mismatch, and said so.
    dev.corruptPec = false;
    dev.pec = false;
    out = Run(true, false, status);
    EXPECT_EQ(status, kPecMismatch) << out;
}

TEST(Ownership, IsTheKernelsAnswerNamedFromSysfsWhereItCan)
{
    sim::SimBus bus;
    bus.owned = {0x10};
    const Bus none;  // no i2c-dev node: sysfs cannot name the driver
    EXPECT_EQ(Owner(bus.fd(), none, 0x10), "a kernel driver");
    EXPECT_EQ(Owner(bus.fd(), none, 0x11), "");
}

}  // namespace
