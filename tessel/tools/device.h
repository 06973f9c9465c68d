// tessel-smbus on one device: a transaction, or a register dump.
#pragma once

#include "transactions.h"

// Refuses an address a kernel driver owns unless forced, opens the bus and
// runs what r asks for. Returns the exit status.
int Run(const Request &r);
