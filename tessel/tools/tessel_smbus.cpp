// tessel-smbus: one SMBus transaction from the shell, with the packet error
// code computed and checked by tessel itself.
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

// Exit statuses: what the library's result was.
enum Status { kDone = 0, kBusError = 1, kUsage = 2, kCountTooLarge = 3, kPecMismatch = 4 };

const char kUsageText[] =
    "usage: tessel-smbus [--pec] [-f|--force] BUS ADDRESS TRANSACTION [ARGUMENTS]\n"
    "\n"
    "One SMBus transaction on BUS (/dev/i2c-N or N) with the 7-bit ADDRESS.\n"
    "Numbers are decimal, or hex with 0x. --pec adds and checks the packet\n"
    "error code; -f allows the reserved addresses 0x00-0x07 and 0x78-0x7f.\n"
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
    "  receive-byte                  no PEC in this library\n"
    "\n"
    "exit status: 0 done; 1 no acknowledge or other bus error; 2 usage;\n"
    "3 the device's count was larger than 32 (the first 32 bytes are printed);\n"
    "4 PEC mismatch (what was read is printed all the same).\n"
    "\n"
    "examples:\n"
    "  tessel-smbus --pec 1 0x0b read-word 0x09   smart battery voltage (mV), with PEC\n"
    "  tessel-smbus 3 0x10 block-read 0x99        PMBus MFR_ID\n"
    "  tessel-smbus 7 0x50 write-byte 0x20 0x5a   one EEPROM byte\n";

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
enum class Takes { Nothing, Byte, Word, Bytes };
enum class Prints { Nothing, Byte, Word, Block };

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

struct Request {
    std::string device;
    unsigned address = 0;
    bool pec = false;
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
};

Request Parse(int argc, char **argv)
{
    Request r;
    bool force = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1]; i++) {
        if (!strcmp(argv[i], "--pec"))
            r.pec = true;
        else if (!strcmp(argv[i], "-f") || !strcmp(argv[i], "--force"))
            force = true;
        else
            Refuse(std::string("unknown option '") + argv[i] + "'");
    }
    if (argc - i < 3)
        Refuse("a bus, an address and a transaction are needed");
    const char *bus = argv[i++];
    r.device = strchr(bus, '/') ? bus : "/dev/i2c-" + std::to_string(Number(bus, 1u << 20, "bus number"));
    r.address = unsigned(Number(argv[i++], 0x7F, "address (7 bits, at most 0x7f)"));
    if (!force && (r.address < 0x08 || r.address > 0x77))
        Refuse("address " + std::string(argv[i - 1]) + " is reserved (0x00-0x07, 0x78-0x7f); -f to use it");
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
    } else {
        if (argc - i < 1)
            Refuse(std::string(r.t->name) + " needs at least one byte");
        if (argc - i > I2C_TRANSFER_MAX_DATA)
            Refuse(std::string(r.t->name) + ": " + std::to_string(argc - i) + " bytes, at most 32");
        for (; i < argc; i++)
            r.bytes.push_back(uint8_t(Number(argv[i], 0xFF, "byte")));
    }
    struct stat st;
    if (stat(r.device.c_str(), &st) != 0)
        Refuse("no device node " + r.device + " (is i2c-dev loaded?)");
    return r;
}

void PrintBytes(const uint8_t *bytes, unsigned n)
{
    printf("count %u:", n);
    for (unsigned k = 0; k < n; k++)
        printf(" %02x", bytes[k]);
    printf("\n");
}

int Run(const Request &r)
{
    const int fd = open(r.device.c_str(), O_RDWR);
    if (fd < 0) {
        fprintf(stderr, "tessel-smbus: cannot open %s: %s\n", r.device.c_str(), strerror(errno));
        return kBusError;
    }
    I2cSetSlaveAddress(fd, I2C_Addr_t(r.address), r.pec);
    Reply reply;
    const int rc = r.t->run(fd, r, reply);
    const int err = errno;
    close(fd);

    if (rc == -1) {
        const bool nack = err == ENXIO || err == EREMOTEIO;
        fprintf(stderr, "tessel-smbus: %s at 0x%02x on %s: %s\n", nack ? "no acknowledge" : "bus error", r.address,
                r.device.c_str(), strerror(err));
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
    return Run(r);
}
