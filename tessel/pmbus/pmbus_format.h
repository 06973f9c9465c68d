// PMBus number formats, decoded: pure functions from the raw word a device
// answers (low byte first on the bus, as an SMBus word) to the value in
// volts, amperes, watts, degrees Celsius or RPM.
#ifndef TESSEL_PMBUS_FORMAT_H
#define TESSEL_PMBUS_FORMAT_H

#include <stdint.h>

namespace pmbus {

// LINEAR11: bits 15-11 a signed exponent N, bits 10-0 a signed mantissa Y;
// the value is Y * 2^N. Every quantity but the output voltage.
double Linear11(uint16_t word);

// What VOUT_MODE says of READ_VOUT: bits 7-5 the mode, bits 4-0 its
// parameter (LINEAR16's exponent, the VID code type, nothing for DIRECT).
enum class VoutFormat { Linear16, Vid, Direct, Half, Reserved };
VoutFormat VoutModeFormat(uint8_t voutMode);
const char *FormatName(VoutFormat format);
int VoutModeExponent(uint8_t voutMode);  // bits 4-0 as a signed 5-bit number

// LINEAR16: the word an unsigned mantissa, the exponent VOUT_MODE's; the
// value is word * 2^exponent.
double Linear16(uint16_t word, uint8_t voutMode);

// DIRECT: the device sends Y = (m * X + b) * 10^R, so X = (Y * 10^-R - b) / m,
// with Y a two's complement word. m, b and R are the device's (its data
// sheet, or COEFFICIENTS) and may depend on a range setting or a shunt.
// NaN when m is 0.
struct Coefficients {
    int m = 0, b = 0, R = 0;
};
double Direct(uint16_t word, const Coefficients &c);

// IEEE 754 half precision (binary16): PMBus 1.3's VOUT_MODE mode 011, and
// its other quantities where CAPABILITY bit 3 is set.
double Half(uint16_t word);

}  // namespace pmbus

#endif
