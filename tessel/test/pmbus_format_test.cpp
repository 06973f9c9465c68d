// The PMBus number formats from tables: worked values, the edges of each
// format, and the words either side of each boundary.
#include "pmbus_format.h"

#include <gtest/gtest.h>

#include <cmath>

using pmbus::Coefficients;

TEST(PmbusFormat, Linear11)
{
    const struct {
        uint16_t word;
        double value;
    } cases[] = {
        {0xE060, 6.0},       {0xD2F4, 11.8125}, {0xF7FF, -0.25},  {0x07FF, -1.0},
        {0x0400, -1024.0},   {0x03FF, 1023.0},  {0x0000, 0.0},    {0x0001, 1.0},
        {0x7BFF, 1023.0 * 32768},                // largest: exponent 15, mantissa 1023
        {0x7C00, -1024.0 * 32768},               // most negative
        {0x8001, 1.0 / 65536},                   // exponent -16, smallest positive
        {0x87FF, -1.0 / 65536},                  // and its negative
        {0xFFFF, -0.5},                          // all ones: exponent -1, mantissa -1
        {0x0800, 0.0},                           // exponent 1, mantissa 0
        {0xF800 | 0x3FF, 1023.0 / 2},            // exponent -1 with the largest mantissa
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(pmbus::Linear11(c.word), c.value) << std::hex << c.word;
}

TEST(PmbusFormat, VoutModeAndLinear16)
{
    const struct {
        uint8_t mode;
        pmbus::VoutFormat format;
        int exponent;
    } modes[] = {
        {0x17, pmbus::VoutFormat::Linear16, -9}, {0x14, pmbus::VoutFormat::Linear16, -12},
        {0x00, pmbus::VoutFormat::Linear16, 0},  {0x0F, pmbus::VoutFormat::Linear16, 15},
        {0x10, pmbus::VoutFormat::Linear16, -16}, {0x1F, pmbus::VoutFormat::Linear16, -1},
        {0x21, pmbus::VoutFormat::Vid, 1},       {0x40, pmbus::VoutFormat::Direct, 0},
        {0x60, pmbus::VoutFormat::Half, 0},      {0x80, pmbus::VoutFormat::Reserved, 0},
        {0xFF, pmbus::VoutFormat::Reserved, -1},
    };
    for (const auto &m : modes) {
        EXPECT_EQ(pmbus::VoutModeFormat(m.mode), m.format) << std::hex << int(m.mode);
        EXPECT_EQ(pmbus::VoutModeExponent(m.mode), m.exponent) << std::hex << int(m.mode);
    }
    const struct {
        uint16_t word;
        uint8_t mode;
        double value;
    } cases[] = {
        {0x0180, 0x17, 0.75},
        {0x1333, 0x14, 4915.0 / 4096},  // 1.19995 V
        {0xFFFF, 0x17, 65535.0 / 512},  // unsigned: all ones is 128 V, not -1
        {0x8000, 0x17, 64.0},
        {0x6000, 0x00, 24576.0},        // VOUT_MODE 0: what a raw dump shows as "24576 V"
        {0x0001, 0x10, 1.0 / 65536},
        {0x0001, 0x0F, 32768.0},
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(pmbus::Linear16(c.word, c.mode), c.value) << std::hex << c.word;
    // The same word read as LINEAR11 is far off: the fault this format avoids.
    EXPECT_NE(pmbus::Linear11(0x0180), pmbus::Linear16(0x0180, 0x17));
}

TEST(PmbusFormat, Direct)
{
    const struct {
        uint16_t word;
        Coefficients c;
        double value;
    } cases[] = {
        {487, {4062, 0, -2}, 487 * 100.0 / 4062},   // 11.989 V
        {2246, {198, 20480, -1}, 10.0},             // a current with an offset
        {0x09C4, {1, 0, 2}, 25.0},                  // 2500: hundredths of a degree
        {0x03E8, {1, 0, 3}, 1.0},                   // millivolts
        {0xFFFF, {1, 0, 0}, -1.0},                  // two's complement
        {0x8000, {1, 0, 0}, -32768.0},
        {0x7FFF, {1, 0, 0}, 32767.0},
        {100, {2, -50, 0}, 75.0},                   // negative b
        {100, {-2, 0, 0}, -50.0},                   // negative m
        {0xFF9C, {1, 0, -1}, -1000.0},              // -100, R = -1
        {12345, {1, 0, 5}, 0.12345},
        {0, {7, 700, 0}, -100.0},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(pmbus::Direct(c.word, c.c), c.value, 1e-12 * (1 + std::fabs(c.value))) << c.word;
    EXPECT_TRUE(std::isnan(pmbus::Direct(1, {0, 0, 0})));
}

TEST(PmbusFormat, HalfPrecision)
{
    const struct {
        uint16_t word;
        double value;
    } cases[] = {
        {0x3C00, 1.0},   {0x4000, 2.0},          {0xC000, -2.0},          {0x3555, 0.333251953125},
        {0x7BFF, 65504}, {0x0400, 1.0 / 16384},  {0x03FF, 1023.0 / (1 << 24)},  // largest subnormal
        {0x0001, 1.0 / (1 << 24)},               {0x0000, 0.0},           {0x4A40, 12.5},
        {0x7C00, INFINITY}, {0xFC00, -INFINITY},
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(pmbus::Half(c.word), c.value) << std::hex << c.word;
    EXPECT_TRUE(std::isnan(pmbus::Half(0x7E00)));
    EXPECT_TRUE(std::signbit(pmbus::Half(0x8000)));
}
