// tessel-smbus pmbus: a PMBus device's identity, status and telemetry, read
// with standard read commands only and decoded to volts, amperes, watts,
// degrees Celsius and RPM.
#pragma once

#include "transactions.h"

#include <string>

// The quantities --coefficients names: vin, iin, vout, iout, temp, fan,
// pout, pin.
bool KnownQuantity(const std::string &name);
std::string QuantityNames();

// Reads and prints (text, or one JSON object) the device r names on fd,
// whose ownership is settled. Sends PAGE on a paged device and puts it back
// as it was found; no other write. Returns the exit status.
int Pmbus(int fd, const Request &r);
