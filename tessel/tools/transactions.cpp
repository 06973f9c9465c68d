// The transaction table, and the printing of what a transaction read.
#include "transactions.h"

#include "json.h"
#include "tool.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace {

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

void PrintBytes(const uint8_t *bytes, unsigned n)
{
    printf("count %u:", n);
    for (unsigned k = 0; k < n; k++)
        printf(" %02x", bytes[k]);
    printf("\n");
}

}  // namespace

const Transaction *FindTransaction(const char *name)
{
    for (const Transaction &t : kTransactions)
        if (!strcmp(name, t.name))
            return &t;
    return nullptr;
}

void PutDevice(Json &json, const Request &r)
{
    json.Put("bus", r.bus.device).Put("address", r.address);
}

int Report(const Request &r, const Reply &reply, int rc, int err)
{
    const bool nack = rc == -1 && (err == ENXIO || err == EREMOTEIO);
    if (rc == -1)
        fprintf(stderr, "tessel-smbus: %s at 0x%02x on %s: %s\n", nack ? "no acknowledge" : "bus error", r.address,
                r.bus.device.c_str(), strerror(err));
    else if (rc == EMSGSIZE)
        fprintf(stderr, "tessel-smbus: the device's count was larger than %d bytes\n", I2C_TRANSFER_MAX_DATA);
    else if (rc == EBADMSG)
        fprintf(stderr, "tessel-smbus: PEC mismatch: what was read is printed, but it may be corrupt\n");
    const int status = rc == -1 ? kBusError : rc == EMSGSIZE ? kCountTooLarge : rc == EBADMSG ? kPecMismatch : kDone;
    const bool read = rc != -1 && r.t->prints != Prints::Nothing;
    if (r.json) {
        Json json;
        json.Object();
        PutDevice(json, r);
        json.Put("transaction", r.t->name);
        if (r.t->command)
            json.Put("command", unsigned(r.cmd));
        json.Put("pec", r.pec).Put("exit", status);
        json.Put("outcome", rc == -1 ? (nack ? "no acknowledge" : "bus error")
                            : rc == EMSGSIZE ? "count too large" : rc == EBADMSG ? "pec mismatch" : "done");
        if (rc == -1)
            json.Put("error", strerror(err));
        if (read && r.t->prints == Prints::Byte)
            json.Put("byte", unsigned(reply.in[0]));
        if (read && r.t->prints == Prints::Word)
            json.Put("word", unsigned(reply.in[0] | reply.in[1] << 8));
        if (read && r.t->prints == Prints::Block) {
            json.Put("count", unsigned(reply.count)).Array("bytes");
            for (unsigned k = 0; k < reply.count; k++)
                json.Put(nullptr, unsigned(reply.in[k]));
            json.Close();
        }
        printf("%s\n", json.Close().Text().c_str());
        return status;
    }
    if (read) {
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
    }
    return status;
}
