// tessel-smbus's look at whole buses, as i2cdetect has it.
#pragma once

#include "adapter.h"

// The addresses that answer, as i2cdetect prints them; the reserved ones
// too when all.
int Scan(const Bus &bus, bool all);

// The buses, with their adapters' names, as i2cdetect -l lists them.
int List();
