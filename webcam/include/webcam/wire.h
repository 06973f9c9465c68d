// ROS 1 wire encoding of the field types the control services use: fields
// back to back, int8 as one byte, string as a little-endian uint32 byte
// count and that many bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace webcam {
namespace wire {

inline uint32_t length(int8_t) { return 1; }
inline uint32_t length(const std::string &s) { return 4 + uint32_t(s.size()); }

inline uint8_t *write(uint8_t *p, int8_t v)
{
    *p++ = uint8_t(v);
    return p;
}

inline uint8_t *write(uint8_t *p, const std::string &s)
{
    const uint32_t n = uint32_t(s.size());
    for (int i = 0; i < 4; i++)
        *p++ = uint8_t(n >> (8 * i));
    if (n)
        memcpy(p, s.data(), n);
    return p + n;
}

// Readers take the end of the received bytes and return null, reading
// nothing more, when the field would run past it. A null p passes through.
inline const uint8_t *read(const uint8_t *p, const uint8_t *end, int8_t &v)
{
    if (!p || end - p < 1)
        return nullptr;
    v = int8_t(*p);
    return p + 1;
}

inline const uint8_t *read(const uint8_t *p, const uint8_t *end, std::string &s)
{
    if (!p || end - p < 4)
        return nullptr;
    const uint32_t n = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    p += 4;
    if (uint64_t(end - p) < n)
        return nullptr;
    s.assign(reinterpret_cast<const char *>(p), n);
    return p + n;
}

}  // namespace wire
}  // namespace webcam
