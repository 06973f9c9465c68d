// The SMBus transactions tessel-smbus runs, one row each, and how their
// outcome is printed.
#pragma once

#include "adapter.h"

#include <i2c.h>
#include <pmbus_format.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// What a transaction takes after its command code, and what it prints.
enum class Takes { Nothing, Byte, Word, Bytes, Length };
enum class Prints { Nothing, Byte, Word, Block };

// What a call does: one transaction, or a look at a whole bus.
enum class Mode { Transaction, Scan, Dump, List, Pmbus };

// pmbus --page: the page the device is on, or every page it has.
constexpr int kPageAsFound = -1, kPageAll = -2;

struct Request;

// What a transaction read: up to 32 bytes, and how many.
struct Reply {
    uint8_t in[I2C_TRANSFER_MAX_DATA] = {};
    uint8_t count = 0;
};

// One row a transaction: its name, what it takes and prints, and the call
// that runs it. Nothing else in the tool tells transactions apart.
struct Transaction {
    const char *name;
    bool command;  // takes CMD
    Takes takes;
    bool pec;      // can carry a PEC
    Prints prints;
    int (*run)(int fd, const Request &r, Reply &out);
};

// A whole command line, parsed.
struct Request {
    Mode mode = Mode::Transaction;
    Bus bus;
    unsigned address = 0;
    bool pec = false, noPec = false, all = false, force = false, json = false;
    int page = kPageAsFound;  // pmbus
    std::vector<std::pair<std::string, pmbus::Coefficients>> coefficients;  // pmbus, by quantity
    unsigned first = 0x00, last = 0xff;  // dump
    const Transaction *t = nullptr;
    uint8_t cmd = 0;
    unsigned long value = 0;
    std::vector<uint8_t> bytes;

    uint8_t byte() const { return uint8_t(value); }
    std::array<uint8_t, 2> word() const { return {uint8_t(value), uint8_t(value >> 8)}; }  // low byte first
    uint8_t size() const { return uint8_t(bytes.size()); }
};

// The transaction of that name, or null.
const Transaction *FindTransaction(const char *name);

// Prints what r's transaction read (one JSON object with --json) and says
// what went wrong: rc as the library returned it, err the errno it left.
// Returns the exit status.
int Report(const Request &r, const Reply &reply, int rc, int err);

// The head of a JSON answer about r's device: bus and address.
class Json;
void PutDevice(Json &json, const Request &r);
