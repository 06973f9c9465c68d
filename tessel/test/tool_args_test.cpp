// tessel-smbus's command line as parsed: the numbers, flags and verbs it
// takes, and what it refuses. /dev/null stands in for a bus node (parsing
// only asks that the node exists).
#include "args.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

Request ParseLine(const std::string &line)
{
    std::vector<std::string> words{"tessel-smbus"};
    std::istringstream in(line);
    for (std::string w; in >> w;)
        words.push_back(w);
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(&w[0]);
    return Parse(int(argv.size()), argv.data());
}

std::string RefusalOf(const std::string &line)
{
    try {
        ParseLine(line);
    } catch (const Usage &u) {
        return u.why;
    }
    return "(taken)";
}

std::string Bytes(int from, int n)
{
    std::ostringstream s;
    for (int i = 0; i < n; i++)
        s << ' ' << from + i;
    return s.str();
}

}  // namespace

TEST(ToolArgs, TakesNumbersInEveryBaseUpToTheirLimits)
{
    struct Case {
        std::string line;
        const char *transaction;
        unsigned address, cmd;
        unsigned long value;
    } cases[] = {
        {"/dev/null 0x10 read-byte 0", "read-byte", 0x10, 0, 0},
        {"/dev/null 0x77 write-byte 0xff 255", "write-byte", 0x77, 0xff, 255},
        {"/dev/null 8 write-word 0x20 0xBEEF", "write-word", 8, 0x20, 0xbeef},
        {"/dev/null 010 write-word 017 0xffff", "write-word", 8, 15, 0xffff},  // a leading 0 is octal, as strtoul has it
        {"/dev/null 0x0b process-call 0x09 0", "process-call", 0x0b, 9, 0},
        {"/dev/null 0x50 i2c-block-read 0 32", "i2c-block-read", 0x50, 0, 32},
        {"/dev/null 0x50 send-byte 0x5a", "send-byte", 0x50, 0, 0x5a},
        {"/dev/null 0x50 receive-byte", "receive-byte", 0x50, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Request r = ParseLine(c.line);
        ASSERT_NE(r.t, nullptr);
        EXPECT_EQ(r.mode, Mode::Transaction);
        EXPECT_STREQ(r.t->name, c.transaction);
        EXPECT_EQ(r.address, c.address);
        EXPECT_EQ(r.cmd, c.cmd);
        EXPECT_EQ(r.value, c.value);
        EXPECT_EQ(r.bus.device, "/dev/null");
        EXPECT_EQ(r.bus.number, -1);  // no i2c-dev node
    }
    const Request word = ParseLine("/dev/null 0x10 write-word 0 0x1234");
    EXPECT_EQ(word.word()[0], 0x34);  // low byte first on the bus
    EXPECT_EQ(word.word()[1], 0x12);
    const Request block = ParseLine("/dev/null 0x10 block-write 0x20" + Bytes(1, 32));
    EXPECT_EQ(block.cmd, 0x20);
    ASSERT_EQ(block.bytes.size(), 32u);
    EXPECT_EQ(block.bytes.front(), 1);
    EXPECT_EQ(block.bytes.back(), 32);
}

TEST(ToolArgs, TakesFlagsAndVerbs)
{
    const Request flags = ParseLine("-f -y --pec -a /dev/null 0x03 read-word 0x09");
    EXPECT_TRUE(flags.force);
    EXPECT_TRUE(flags.pec);
    EXPECT_TRUE(flags.all);
    EXPECT_EQ(flags.address, 3u);
    const Request plain = ParseLine("/dev/null 0x10 read-word 0x09");
    EXPECT_FALSE(plain.force || plain.pec || plain.all);

    EXPECT_EQ(ParseLine("list").mode, Mode::List);
    const Request scan = ParseLine("-a scan /dev/null");
    EXPECT_EQ(scan.mode, Mode::Scan);
    EXPECT_TRUE(scan.all);
    const Request dump = ParseLine("dump /dev/null 0x50");
    EXPECT_EQ(dump.mode, Mode::Dump);
    EXPECT_EQ(dump.address, 0x50u);
    EXPECT_EQ(dump.first, 0x00u);
    EXPECT_EQ(dump.last, 0xffu);
    const Request range = ParseLine("dump /dev/null 0x50 0x10-0x10");
    EXPECT_EQ(range.first, 0x10u);
    EXPECT_EQ(range.last, 0x10u);

    // Short flags combine, as i2c-tools takes them.
    for (const char *line : {"-fya /dev/null 0x03 read-byte 0", "-ya -f /dev/null 0x03 read-byte 0"}) {
        const Request combined = ParseLine(line);
        EXPECT_TRUE(combined.force && combined.all) << line;
    }
    EXPECT_TRUE(ParseLine("--json list").json);

    const Request pmbus = ParseLine("--no-pec pmbus /dev/null 0x10 --page=all --coefficients vin=4062,0,-2 "
                                    "--coefficients iout=198,-20480,-1 --json");
    EXPECT_EQ(pmbus.mode, Mode::Pmbus);
    EXPECT_TRUE(pmbus.noPec && pmbus.json);
    EXPECT_EQ(pmbus.page, kPageAll);
    ASSERT_EQ(pmbus.coefficients.size(), 2u);
    EXPECT_EQ(pmbus.coefficients[1].first, "iout");
    EXPECT_EQ(pmbus.coefficients[1].second.b, -20480);
    EXPECT_EQ(pmbus.coefficients[1].second.R, -1);
    EXPECT_EQ(ParseLine("pmbus /dev/null 0x10 --page 3").page, 3);
    EXPECT_EQ(ParseLine("pmbus /dev/null 0x10").page, kPageAsFound);
}

TEST(ToolArgs, RefusesWithTheReason)
{
    const struct {
        std::string line, why;
    } cases[] = {
        {"", "a bus, an address and a transaction are needed"},
        {"--frobnicate /dev/null 0x10 read-byte 0", "unknown option '--frobnicate'"},
        {"/dev/null 0x80 read-byte 0", "address (7 bits, at most 0x7f) '0x80' is too large"},
        {"/dev/null 0x07 read-byte 0", "address 0x07 is reserved"},
        {"/dev/null 0x78 read-byte 0", "address 0x78 is reserved"},
        {"/dev/null 0x10 read-byte -1", "malformed command code '-1'"},
        {"/dev/null 0x10 read-byte 1e", "malformed command code '1e'"},
        {"/dev/null 0x10 read-byte 0x100", "command code '0x100' is too large"},
        {"/dev/null 0x10 write-byte 0 0x1g", "malformed byte '0x1g'"},
        {"/dev/null 0x10 write-word 0 0x10000", "word '0x10000' is too large"},
        {"/dev/null 0x10 write-word 0 99999999999999999999999", "malformed word"},  // beyond unsigned long
        {"/dev/null 0x10 frobnicate", "unknown transaction 'frobnicate'"},
        {"/dev/null 0x10 read-byte", "read-byte needs a command code"},
        {"/dev/null 0x10 write-byte 0", "write-byte takes one value"},
        {"/dev/null 0x10 read-byte 0 1", "read-byte takes no value"},
        {"/dev/null 0x10 block-write 0", "block-write needs at least one byte"},
        {"/dev/null 0x10 block-write 0" + Bytes(0, 33), "block-write: 33 bytes, at most 32"},
        {"/dev/null 0x10 i2c-block-read 0 0", "i2c-block-read reads at least one byte"},
        {"/dev/null 0x10 i2c-block-read 0 33", "length (at most 32) '33' is too large"},
        {"--pec /dev/null 0x10 send-byte 1", "send-byte carries no PEC in this library"},
        {"--pec /dev/null 0x10 i2c-block-write 0 1", "i2c-block-write carries no PEC in this library"},
        {"--pec scan /dev/null", "scan carries no PEC"},
        {"scan", "scan takes a bus"},
        {"list 1", "list takes nothing more"},
        {"dump /dev/null", "dump takes a bus, an address"},
        {"dump /dev/null 0x50 0x20", "malformed register range '0x20'"},
        {"dump /dev/null 0x50 0x20-0x10", "register range '0x20-0x10' runs backwards"},
        {"dump /dev/null 0x50 0-0x100", "last register '0x100' is too large"},
        {"4711 0x10 read-byte 0", "no device node /dev/i2c-4711"},
        {"/no/such/node 0x10 read-byte 0", "no device node /no/such/node"},
        {"-fz /dev/null 0x10 read-byte 0", "unknown option '-z' in '-fz'"},
        {"--pec --no-pec pmbus /dev/null 0x10", "--pec and --no-pec together"},
        {"--page 1 /dev/null 0x10 read-byte 0", "--no-pec, --page and --coefficients are pmbus's"},
        {"pmbus /dev/null", "pmbus takes a bus and an address"},
        {"pmbus /dev/null 0x10 0x20", "pmbus takes options after the address, not '0x20'"},
        {"pmbus /dev/null 0x10 --page", "--page needs a value"},
        {"pmbus /dev/null 0x10 --page 256", "page (0-255, or all) '256' is too large"},
        {"pmbus /dev/null 0x10 --coefficients vin=1,2", "malformed coefficients 'vin=1,2'"},
        {"pmbus /dev/null 0x10 --coefficients volts=1,0,0", "no quantity 'volts' (vin, iin, vout"},
        {"pmbus /dev/null 0x10 --coefficients vin=0,0,0", "coefficients 'vin=0,0,0' out of range"},
        {"pmbus /dev/null 0x10 --coefficients vin=1,0,200", "coefficients 'vin=1,0,200' out of range"},
        {"--json=1 list", "option '--json' takes no value"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RefusalOf(c.line).rfind(c.why, 0), 0u) << c.line << " -> " << RefusalOf(c.line);
}
