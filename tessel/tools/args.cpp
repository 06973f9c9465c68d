// tessel-smbus's command line, taken apart before any bus traffic.
#include "args.h"

#include "tool.h"

#include <Log.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

namespace {

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
    r.t = FindTransaction(argv[i]);
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

}  // namespace

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
