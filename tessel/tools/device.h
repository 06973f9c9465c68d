// tessel-smbus on one device: a transaction, a register dump, or its PMBus
// telemetry.
#pragma once

#include "transactions.h"

// Opens the bus, refuses an address a kernel driver owns unless forced, and
// runs what r asks for: a transaction, a dump or a PMBus read-out. Returns
// the exit status.
int Run(const Request &r);
