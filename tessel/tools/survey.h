// tessel-smbus's look at whole buses, as i2cdetect has it.
#pragma once

#include "adapter.h"

// The addresses that answer, as i2cdetect prints them (or one JSON
// object); the reserved ones too when all. Exits 1 when a probe failed for
// another reason than no acknowledge: the grid cannot say what is there.
int Scan(const Bus &bus, bool all, bool json);

// The buses, with their adapters' names, as i2cdetect -l lists them.
int List(bool json);
