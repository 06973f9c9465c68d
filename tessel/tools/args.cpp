// tessel-smbus's command line, taken apart before any bus traffic.
#include "args.h"

#include "pmbus.h"
#include "tool.h"

#include <Log.h>

#include <errno.h>
#include <stdio.h>
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

// --page N|all.
void ParsePage(const char *text, Request &r)
{
    r.page = !strcmp(text, "all") ? kPageAll : int(Number(text, 0xFF, "page (0-255, or all)"));
}

// --coefficients QUANTITY=M,B,R: DIRECT's m, b and R for one quantity.
void ParseCoefficients(const char *text, Request &r)
{
    const char *eq = strchr(text, '=');
    long v[3];
    int used = 0;
    if (!eq || sscanf(eq + 1, "%ld,%ld,%ld%n", &v[0], &v[1], &v[2], &used) != 3 || eq[1 + used] != 0)
        Refuse(std::string("malformed coefficients '") + text + "' (QUANTITY=M,B,R, as vin=4062,0,-2)");
    const std::string quantity(text, eq);
    if (!KnownQuantity(quantity))
        Refuse("no quantity '" + quantity + "' (" + QuantityNames() + ")");
    if (v[0] == 0 || v[0] < -32768 || v[0] > 32767 || v[1] < -32768 || v[1] > 32767 || v[2] < -128 || v[2] > 127)
        Refuse(std::string("coefficients '") + text + "' out of range (m a non-zero word, b a word, R a byte)");
    r.coefficients.push_back({quantity, {int(v[0]), int(v[1]), int(v[2])}});
}

// The option at argv[i] (its value at argv[i + 1] for the ones that take
// one); returns how many words it took, 0 when argv[i] is no option.
int ParseOption(int argc, char **argv, int i, Request &r)
{
    const char *o = argv[i];
    if (o[0] != '-' || !o[1])
        return 0;
    if (o[1] != '-') {  // short flags, combined as i2c-tools takes them: -fy, -ya
        for (const char *f = o + 1; *f; f++) {
            if (*f == 'a')
                r.all = true;
            else if (*f == 'f')
                r.force = true;
            else if (*f != 'y')  // i2c-tools' "no prompt": this tool never prompts
                Refuse(std::string("unknown option '-") + *f + "'" + (o[2] ? std::string(" in '") + o + "'" : ""));
        }
        return 1;
    }
    const char *eq = strchr(o, '=');
    const std::string name = eq ? std::string(o, eq) : o;
    if (name == "--page" || name == "--coefficients") {
        const char *value = eq ? eq + 1 : i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value)
            Refuse(name + " needs a value");
        (name == "--page" ? ParsePage : ParseCoefficients)(value, r);
        return eq ? 1 : 2;
    }
    if (eq)
        Refuse(std::string("option '") + name + "' takes no value");
    if (name == "--pec")
        r.pec = true;
    else if (name == "--no-pec")
        r.noPec = true;
    else if (name == "--json")
        r.json = true;
    else if (name == "--debug")
        gLibraryLines = true, gDebug = 1;
    else
        Refuse("unknown option '" + name + "'");
    return 1;
}

}  // namespace

Request Parse(int argc, char **argv)
{
    Request r;
    int i = 1;
    while (i < argc)
        if (const int took = ParseOption(argc, argv, i, r))
            i += took;
        else
            break;
    const std::string verb = i < argc ? argv[i] : "";
    if (verb != "pmbus" && (r.noPec || r.page != kPageAsFound || !r.coefficients.empty()))
        Refuse("--no-pec, --page and --coefficients are pmbus's");
    if (verb == "list") {
        if (argc - i != 1)
            Refuse("list takes nothing more");
        r.mode = Mode::List;
    } else if (verb == "pmbus") {
        if (argc - i < 3)
            Refuse("pmbus takes a bus and an address");
        r.mode = Mode::Pmbus;
        const char *bus = argv[i + 1];
        for (int k = i + 3; k < argc;)
            if (const int took = ParseOption(argc, argv, k, r))
                k += took;
            else
                Refuse(std::string("pmbus takes options after the address, not '") + argv[k] + "'");
        r.address = ParseAddress(argv[i + 2], r.all);
        r.bus = ParseBus(bus);
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
    if (r.pec && r.noPec)
        Refuse("--pec and --no-pec together");
    return r;
}
