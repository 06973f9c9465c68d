// PMBus number formats: the arithmetic as PMBus defines it,
// in doubles (every value of the formats is exact in one, but DIRECT's
// division by m).
#include "pmbus_format.h"

#include <cmath>

namespace pmbus {
namespace {

// A field of `bits` bits, two's complement.
int Signed(unsigned field, int bits)
{
    const unsigned sign = 1u << (bits - 1);
    return int(field & (sign - 1)) - int(field & sign);
}

// 10^n, exact for |n| <= 22.
double Pow10(int n)
{
    double p = 1;
    for (int i = 0; i < (n < 0 ? -n : n); i++)
        p *= 10;
    return n < 0 ? 1 / p : p;
}

}  // namespace

double Linear11(uint16_t word)
{
    return std::ldexp(Signed(word & 0x7FF, 11), Signed(word >> 11, 5));
}

VoutFormat VoutModeFormat(uint8_t voutMode)
{
    switch (voutMode >> 5) {
    case 0: return VoutFormat::Linear16;
    case 1: return VoutFormat::Vid;
    case 2: return VoutFormat::Direct;
    case 3: return VoutFormat::Half;
    default: return VoutFormat::Reserved;
    }
}

const char *FormatName(VoutFormat format)
{
    switch (format) {
    case VoutFormat::Linear16: return "LINEAR16";
    case VoutFormat::Vid: return "VID";
    case VoutFormat::Direct: return "DIRECT";
    case VoutFormat::Half: return "IEEE half";
    default: return "reserved";
    }
}

int VoutModeExponent(uint8_t voutMode)
{
    return Signed(voutMode & 0x1F, 5);
}

double Linear16(uint16_t word, uint8_t voutMode)
{
    return std::ldexp(double(word), VoutModeExponent(voutMode));
}

double Direct(uint16_t word, const Coefficients &c)
{
    if (c.m == 0)
        return NAN;
    const double y = Signed(word, 16);
    // Negative R multiplies: scale first so that 10^-R stays exact.
    return (c.R <= 0 ? y * Pow10(-c.R) - c.b : y / Pow10(c.R) - c.b) / c.m;
}

double Half(uint16_t word)
{
    const int exponent = (word >> 10) & 0x1F;
    const unsigned fraction = word & 0x3FF;
    double v;
    if (exponent == 0)
        v = std::ldexp(double(fraction), -24);  // subnormal: 0.fraction * 2^-14
    else if (exponent == 0x1F)
        v = fraction ? NAN : INFINITY;
    else
        v = std::ldexp(double(fraction | 0x400), exponent - 25);
    return word & 0x8000 ? -v : v;
}

}  // namespace pmbus
