#pragma once

#include "i2c.h"

// Prints voltage, charge and manufacturer of the smart battery at addr.
// 0 when every read succeeded with a good packet error code.
int ReportBattery(int fd, I2C_Addr_t addr);
