#include "Log.h"

#include <array>

namespace {

constexpr uint8_t kPoly = 0x07;

constexpr std::array<uint8_t, 256> MakeTable()
{
    std::array<uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; i++) {
        uint8_t crc = static_cast<uint8_t>(i);
        for (int bit = 0; bit < 8; bit++)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ kPoly : crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kTable = MakeTable();

static_assert(kTable[1] == kPoly, "table follows the polynomial");

}  // namespace

extern "C" uint8_t Crc8(uint8_t crc, uint8_t data)
{
    return kTable[crc ^ data];
}

extern "C" uint8_t Crc8Block(uint8_t crc, const void *data, unsigned len)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    for (unsigned i = 0; i < len; i++)
        crc = kTable[crc ^ bytes[i]];
    return crc;
}
