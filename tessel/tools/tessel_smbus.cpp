// tessel-smbus: one SMBus transaction from the shell, with the packet error
// code computed and checked by tessel itself; and a bus's scan, a device's
// register dump and the list of buses, for a board's bring-up.
#include "tool.h"

#include <Log.h>
#include <i2c.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

namespace {

const char kUsageText[] =
    "usage: tessel-smbus [OPTIONS] BUS ADDRESS TRANSACTION [ARGUMENTS]\n"
    "       tessel-smbus [-a] scan BUS\n"
    "       tessel-smbus [OPTIONS] dump BUS ADDRESS [FIRST-LAST]\n"
    "       tessel-smbus list\n"
    "\n"
    "One SMBus transaction on BUS (/dev/i2c-N or N) with the 7-bit ADDRESS.\n"
    "Numbers are decimal, or hex with 0x.\n"
    "\n"
    "options, as i2c-tools has them:\n"
    "  --pec   add and check the packet error code (computed by tessel)\n"
    "  -a      allow the reserved addresses 0x00-0x07 and 0x78-0x7f\n"
    "  -f      force access to an address that a kernel driver owns (refused\n"
    "          without it, before any bus traffic: the driver may be mid-transaction)\n"
    "  -y      accepted and ignored: tessel-smbus never asks for confirmation\n"
    "  --debug the library's own lines (and traces) on stderr too\n"
    "\n"
    "transactions:\n"
    "  read-byte CMD                 prints the byte, 0xNN\n"
    "  write-byte CMD BYTE\n"
    "  read-word CMD                 prints the word, 0xNNNN (low byte first on the bus)\n"
    "  write-word CMD WORD\n"
    "  block-read CMD                prints the count and the bytes\n"
    "  block-write CMD BYTE...       at most 32 bytes\n"
    "  process-call CMD WORD         sends a word, prints the word read back\n"
    "  block-process-call CMD BYTE...  sends a block, prints the block read back\n"
    "  send-byte BYTE                no PEC in this library\n"
    "  receive-byte                  prints the byte, 0xNN; no PEC in this library\n"
    "  i2c-block-read CMD LENGTH     LENGTH (1-32) bytes, no count byte; prints them; no PEC\n"
    "  i2c-block-write CMD BYTE...   at most 32 bytes, no count byte; no PEC\n"
    "\n"
    "scan: the addresses that answer, as i2cdetect shows them (-- none, UU owned\n"
    "by a kernel driver); a quick write, or a one-byte read at 0x30-0x37 and\n"
    "0x50-0x5f. dump: registers FIRST to LAST (default 0x00-0xff), one Read Byte\n"
    "Data each, as i2cdump shows them (XX no answer). list: the buses.\n"
    "\n"
    "exit status: 0 done; 1 no acknowledge or other bus error, an address a\n"
    "driver owns, an adapter that cannot run plain I2C; 2 usage;\n"
    "3 the device's count was larger than 32 (the first 32 bytes are printed);\n"
    "4 PEC mismatch (what was read is printed all the same).\n"
    "\n"
    "examples:\n"
    "  tessel-smbus --pec 1 0x0b read-word 0x09   smart battery voltage (mV), with PEC\n"
    "  tessel-smbus 3 0x10 block-read 0x99        PMBus MFR_ID\n"
    "  tessel-smbus 7 0x50 write-byte 0x20 0x5a   one EEPROM byte\n"
    "  tessel-smbus scan 3                        what answers on bus 3\n"
    "  tessel-smbus dump 8 0x4d 0x00-0x0f         a sensor's first 16 registers\n";

struct Usage {
    std::string why;
};

[[noreturn]] void Refuse(const std::string &why)
{
    throw Usage{why};
}

unsigned long Number(const char *text, unsigned long max, const char *what)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long v = strtoul(text, &end, 0);
    if (!*text || *end || errno || text[0] == '-')
        Refuse(std::string("malformed ") + what + " '" + text + "'");
    if (v > max)
        Refuse(std::string(what) + " '" + text + "' is too large");
    return v;
}

// What a transaction takes after its command code, and what it prints.
enum class Takes { Nothing, Byte, Word, Bytes, Length };
enum class Prints { Nothing, Byte, Word, Block };

struct Request;

// What a call does: one transaction, or a look at a whole bus.
enum class Mode { Transaction, Scan, Dump, List };

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

struct Request {
    Mode mode = Mode::Transaction;
    Bus bus;
    unsigned address = 0;
    bool pec = false, all = false, force = false;
    unsigned first = 0x00, last = 0xff;  // dump
    const Transaction *t = nullptr;
    uint8_t cmd = 0;
    unsigned long value = 0;
    std::vector<uint8_t> bytes;

    uint8_t byte() const { return uint8_t(value); }
    std::array<uint8_t, 2> word() const { return {uint8_t(value), uint8_t(value >> 8)}; }  // low byte first
    uint8_t size() const { return uint8_t(bytes.size()); }
};

const Transaction kTransactions[] = {
    {"read-byte", true, Takes::Nothing, true, Prints::Byte,
     [](int fd, const Request &r, Reply &o) { return I2cReadByte(fd, r.cmd, o.in); }},
    {"write-byte", true, Takes::Byte, true, Prints::Nothing,
     [](int fd, const Request &r, Reply &) { return I2cWriteByte(fd, r.cmd, r.byte()); }},
    {"read-word", true, Takes::Nothing, true, Prints::Word,
     [](int fd, const Request &r, Reply &o) { return I2cReadBytes(fd, r.cmd, o.in, 2); }},
    {"write-word", true, Takes::Word, true, Prints::Nothing,
     [](int fd, const Request &r, Reply &) { return I2cWriteBytes(fd, r.cmd, r.word().data(), 2); }},
    {"block-read", true, Takes::Nothing, true, Prints::Block,
     [](int fd, const Request &r, Reply &o) { return I2cReadBlock(fd, r.cmd, o.in, sizeof o.in, &o.count); }},
    {"block-write", true, Takes::Bytes, true, Prints::Nothing,
     [](int fd, const Request &r, Reply &) { return I2cWriteBlock(fd, r.cmd, r.bytes.data(), r.size()); }},
    {"process-call", true, Takes::Word, true, Prints::Word,
     [](int fd, const Request &r, Reply &o) { return I2cTransfer(fd, r.cmd, r.word().data(), 2, o.in, 2, nullptr); }},
    {"block-process-call", true, Takes::Bytes, true, Prints::Block,
     [](int fd, const Request &r, Reply &o) {
         return I2cProcessBlock(fd, r.cmd, r.bytes.data(), r.size(), o.in, sizeof o.in, &o.count);
     }},
    {"send-byte", false, Takes::Byte, false, Prints::Nothing,
     [](int fd, const Request &r, Reply &) { return I2cSendByte(fd, r.byte()); }},
    {"receive-byte", false, Takes::Nothing, false, Prints::Byte,
     [](int fd, const Request &, Reply &o) { return I2cReceiveByte(fd, o.in); }},
    {"i2c-block-read", true, Takes::Length, false, Prints::Block,
     [](int fd, const Request &r, Reply &o) {
         o.count = r.byte();
         return I2cReadBytes(fd, r.cmd, o.in, o.count);
     }},
    {"i2c-block-write", true, Takes::Bytes, false, Prints::Nothing,
     [](int fd, const Request &r, Reply &) { return I2cWriteBytes(fd, r.cmd, r.bytes.data(), r.size()); }},
};


// BUS as /dev/i2c-N or N.
Bus ParseBus(const char *text)
{
    const std::string device =
        strchr(text, '/') ? text : "/dev/i2c-" + std::to_string(Number(text, 1u << 20, "bus number"));
    struct stat st;
    if (stat(device.c_str(), &st) != 0)
        Refuse("no device node " + device + " (is i2c-dev loaded?)");
    return BusOf(device);
}

unsigned ParseAddress(const char *text, bool all)
{
    const unsigned address = unsigned(Number(text, 0x7F, "address (7 bits, at most 0x7f)"));
    if (!all && (address < 0x08 || address > 0x77))
        Refuse("address " + std::string(text) + " is reserved (0x00-0x07, 0x78-0x7f); -a to use it");
    return address;
}

// FIRST-LAST, registers of a dump.
void ParseRange(const char *text, Request &r)
{
    const char *dash = strchr(text, '-');
    if (!dash)
        Refuse(std::string("malformed register range '") + text + "' (FIRST-LAST)");
    r.first = unsigned(Number(std::string(text, dash).c_str(), 0xFF, "first register"));
    r.last = unsigned(Number(dash + 1, 0xFF, "last register"));
    if (r.first > r.last)
        Refuse(std::string("register range '") + text + "' runs backwards");
}

// The transaction's arguments from argv[i] on.
void ParseTransaction(int argc, char **argv, int i, Request &r)
{
    for (const Transaction &t : kTransactions)
        if (!strcmp(argv[i], t.name))
            r.t = &t;
    if (!r.t)
        Refuse(std::string("unknown transaction '") + argv[i] + "'");
    i++;
    if (r.pec && !r.t->pec)
        Refuse(std::string(r.t->name) + " carries no PEC in this library");
    if (r.t->command) {
        if (i >= argc)
            Refuse(std::string(r.t->name) + " needs a command code");
        r.cmd = uint8_t(Number(argv[i++], 0xFF, "command code"));
    }
    if (r.t->takes != Takes::Bytes) {
        const int values = r.t->takes == Takes::Nothing ? 0 : 1;
        if (argc - i != values)
            Refuse(std::string(r.t->name) + (values ? " takes one value" : " takes no value"));
        if (r.t->takes == Takes::Word)
            r.value = Number(argv[i], 0xFFFF, "word");
        else if (r.t->takes == Takes::Byte)
            r.value = Number(argv[i], 0xFF, "byte");
        else if (r.t->takes == Takes::Length && ((r.value = Number(argv[i], 32, "length (at most 32)")) == 0))
            Refuse(std::string(r.t->name) + " reads at least one byte");
    } else {
        if (argc - i < 1)
            Refuse(std::string(r.t->name) + " needs at least one byte");
        if (argc - i > I2C_TRANSFER_MAX_DATA)
            Refuse(std::string(r.t->name) + ": " + std::to_string(argc - i) + " bytes, at most 32");
        for (; i < argc; i++)
            r.bytes.push_back(uint8_t(Number(argv[i], 0xFF, "byte")));
    }
}

Request Parse(int argc, char **argv)
{
    Request r;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1]; i++) {
        if (!strcmp(argv[i], "--pec"))
            r.pec = true;
        else if (!strcmp(argv[i], "-a"))
            r.all = true;
        else if (!strcmp(argv[i], "-f"))
            r.force = true;
        else if (!strcmp(argv[i], "--debug"))
            gLibraryLines = true, gDebug = 1;
        else if (strcmp(argv[i], "-y") != 0)  // i2c-tools' "no prompt": this tool never prompts
            Refuse(std::string("unknown option '") + argv[i] + "'");
    }
    const std::string verb = i < argc ? argv[i] : "";
    if (verb == "list") {
        if (argc - i != 1)
            Refuse("list takes nothing more");
        r.mode = Mode::List;
    } else if (verb == "scan") {
        if (argc - i != 2)
            Refuse("scan takes a bus");
        if (r.pec)
            Refuse("scan carries no PEC");
        r.mode = Mode::Scan;
        r.bus = ParseBus(argv[i + 1]);
    } else if (verb == "dump") {
        if (argc - i != 3 && argc - i != 4)
            Refuse("dump takes a bus, an address and a register range FIRST-LAST (optional)");
        r.mode = Mode::Dump;
        r.address = ParseAddress(argv[i + 2], r.all);
        if (argc - i == 4)
            ParseRange(argv[i + 3], r);
        r.bus = ParseBus(argv[i + 1]);
    } else {
        if (argc - i < 3)
            Refuse("a bus, an address and a transaction are needed");
        const char *bus = argv[i++];
        r.address = ParseAddress(argv[i++], r.all);
        ParseTransaction(argc, argv, i, r);
        r.bus = ParseBus(bus);
    }
    return r;
}

void PrintBytes(const uint8_t *bytes, unsigned n)
{
    printf("count %u:", n);
    for (unsigned k = 0; k < n; k++)
        printf(" %02x", bytes[k]);
    printf("\n");
}

// The selected device: one transaction, or a register dump.
int Run(const Request &r)
{
    if (!r.force) {
        const std::string driver = DriverAt(r.bus, r.address);
        if (!driver.empty()) {
            fprintf(stderr,
                    "tessel-smbus: address 0x%02x on %s is owned by the kernel driver %s; -f to access it all the "
                    "same\n",
                    r.address, r.bus.device.c_str(), driver.c_str());
            return kBusError;
        }
    }
    const int fd = OpenForI2c(r.bus);
    if (fd < 0)
        return kBusError;
    I2cSetSlaveAddress(fd, I2C_Addr_t(r.address), r.pec);
    if (r.mode == Mode::Dump) {
        const int status = Dump(fd, r.first, r.last);
        close(fd);
        return status;
    }
    Reply reply;
    const int rc = r.t->run(fd, r, reply);
    const int err = errno;
    close(fd);

    if (rc == -1) {
        const bool nack = err == ENXIO || err == EREMOTEIO;
        fprintf(stderr, "tessel-smbus: %s at 0x%02x on %s: %s\n", nack ? "no acknowledge" : "bus error", r.address,
                r.bus.device.c_str(), strerror(err));
        return kBusError;
    }
    switch (r.t->prints) {
    case Prints::Byte:
        printf("0x%02x\n", reply.in[0]);
        break;
    case Prints::Word:
        printf("0x%04x\n", reply.in[0] | reply.in[1] << 8);
        break;
    case Prints::Block:
        PrintBytes(reply.in, reply.count);
        break;
    case Prints::Nothing:
        break;
    }
    if (rc == EMSGSIZE) {
        fprintf(stderr, "tessel-smbus: the device's count was larger than %d bytes\n", I2C_TRANSFER_MAX_DATA);
        return kCountTooLarge;
    }
    if (rc == EBADMSG) {
        fprintf(stderr, "tessel-smbus: PEC mismatch: what was read is printed, but it may be corrupt\n");
        return kPecMismatch;
    }
    return kDone;
}

}  // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            fputs(kUsageText, stdout);
            return kDone;
        }
    Request r;
    try {
        r = Parse(argc, argv);
    } catch (const Usage &u) {
        fprintf(stderr, "tessel-smbus: %s (see tessel-smbus --help)\n", u.why.c_str());
        return kUsage;
    }
    switch (r.mode) {
    case Mode::List:
        return List();
    case Mode::Scan:
        return Scan(r.bus, r.all);
    default:
        return Run(r);
    }
}
