// tessel-smbus's command line: options as i2c-tools has them, then a verb
// or a transaction with its numbers.
#pragma once

#include "transactions.h"

#include <string>

// A command line refused, and why (printed with a pointer to --help).
struct Usage {
    std::string why;
};

// What argv asks for; throws Usage before any bus traffic. A bus is taken
// only if its device node exists.
Request Parse(int argc, char **argv);
