// tessel-smbus pmbus: what a bring-up engineer reads first from a PMBus
// device, decoded. Only reads of the standard command set go to the device,
// and PAGE on a paged one (put back as it was found): no CLEAR_FAULTS, no
// write that changes it.
//
// "Not supported" is said only from what the device itself says: a no
// acknowledge, a communication fault the read raised (STATUS_WORD's CML bit
// newly set; it is left set for the user to see), or QUERY where the device
// answers it. Never from the value alone: 0xffff is a real LINEAR16 reading.
#include "pmbus.h"

#include "adapter.h"
#include "json.h"
#include "tool.h"

#include <Log.h>
#include <pmbus_format.h>

#include <errno.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

// Standard commands.
enum : uint8_t {
    kPage = 0x00,
    kCapability = 0x19,
    kQuery = 0x1A,
    kVoutMode = 0x20,
    kCoefficients = 0x30,
    kStatusByte = 0x78,
    kStatusWord = 0x79,
    kStatusCml = 0x7E,
    kPmbusRevision = 0x98,
};
// The kernel's I2C_CLIENT_PEC (not in its user headers) as a message flag:
// with I2C_M_RECV_LEN, the adapter's driver reads one byte more, the PEC.
constexpr uint16_t kMsgPec = 0x0004;
constexpr uint16_t kCmlBit = 1 << 1;  // STATUS_WORD: a communication, memory or logic fault

enum Quantity { kVin, kIin, kVout, kIout, kTemp, kFan, kPout, kPin };
const struct {
    const char *key, *unit;
} kQuantities[] = {{"vin", "V"},     {"iin", "A"}, {"vout", "V"}, {"iout", "A"},
                   {"temp", "degC"}, {"fan", "RPM"}, {"pout", "W"}, {"pin", "W"}};

// The standard telemetry, in the order it is printed.
const struct Telemetry {
    uint8_t code;
    const char *name;
    Quantity quantity;
} kTelemetry[] = {
    {0x88, "READ_VIN", kVin},
    {0x89, "READ_IIN", kIin},
    {0x8B, "READ_VOUT", kVout},
    {0x8C, "READ_IOUT", kIout},
    {0x8D, "READ_TEMPERATURE_1", kTemp},
    {0x8E, "READ_TEMPERATURE_2", kTemp},
    {0x8F, "READ_TEMPERATURE_3", kTemp},
    {0x90, "READ_FAN_SPEED_1", kFan},
    {0x91, "READ_FAN_SPEED_2", kFan},
    {0x92, "READ_FAN_SPEED_3", kFan},
    {0x93, "READ_FAN_SPEED_4", kFan},
    {0x96, "READ_POUT", kPout},
    {0x97, "READ_PIN", kPin},
};

// STATUS_WORD's bits, bit 0 first; its low byte is STATUS_BYTE.
const char *const kStatusWordBits[16] = {
    "NONE_OF_THE_ABOVE", "CML", "TEMPERATURE", "VIN_UV_FAULT", "IOUT_OC_FAULT", "VOUT_OV_FAULT", "OFF", "BUSY",
    "UNKNOWN", "OTHER", "FANS", "POWER_GOOD#", "MFR_SPECIFIC", "INPUT", "IOUT/POUT", "VOUT",
};

// The status bytes behind STATUS_WORD's bits, their bits named bit 0 first.
const struct StatusByte {
    uint8_t code;
    const char *name;
    uint16_t wordBit;  // the STATUS_WORD bit that points to it
    const char *bits[8];
} kStatusBytes[] = {
    {0x7A, "STATUS_VOUT", 1 << 15,
     {"VOUT_TRACKING_ERROR", "TOFF_MAX_WARNING", "TON_MAX_FAULT", "VOUT_MAX_MIN_WARNING", "VOUT_UV_FAULT",
      "VOUT_UV_WARNING", "VOUT_OV_WARNING", "VOUT_OV_FAULT"}},
    {0x7B, "STATUS_IOUT", 1 << 14,
     {"POUT_OP_WARNING", "POUT_OP_FAULT", "POWER_LIMITING", "CURRENT_SHARE_FAULT", "IOUT_UC_FAULT",
      "IOUT_OC_WARNING", "IOUT_OC_LV_FAULT", "IOUT_OC_FAULT"}},
    {0x7C, "STATUS_INPUT", 1 << 13,
     {"PIN_OP_WARNING", "IIN_OC_WARNING", "IIN_OC_FAULT", "UNIT_OFF_LOW_VIN", "VIN_UV_FAULT", "VIN_UV_WARNING",
      "VIN_OV_WARNING", "VIN_OV_FAULT"}},
    {0x7D, "STATUS_TEMPERATURE", 1 << 2,
     {"RESERVED_0", "RESERVED_1", "RESERVED_2", "RESERVED_3", "UT_FAULT", "UT_WARNING", "OT_WARNING", "OT_FAULT"}},
    {0x7E, "STATUS_CML", 1 << 1,
     {"OTHER_MEMORY_OR_LOGIC_FAULT", "OTHER_COMMUNICATION_FAULT", "RESERVED_2", "PROCESSOR_FAULT", "MEMORY_FAULT",
      "PEC_FAILED", "INVALID_DATA", "INVALID_COMMAND"}},
    {0x7F, "STATUS_OTHER", 1 << 9,
     {"FIRST_TO_ASSERT_SMBALERT", "OUTPUT_OR_FET_FAULT", "INPUT_B_OR_FET_FAULT", "INPUT_A_OR_FET_FAULT",
      "INPUT_B_FUSE_FAULT", "INPUT_A_FUSE_FAULT", "RESERVED_6", "RESERVED_7"}},
    {0x80, "STATUS_MFR_SPECIFIC", 1 << 12, {"MFR_0", "MFR_1", "MFR_2", "MFR_3", "MFR_4", "MFR_5", "MFR_6", "MFR_7"}},
    {0x81, "STATUS_FANS_1_2", 1 << 10,
     {"AIRFLOW_WARNING", "AIRFLOW_FAULT", "FAN_2_SPEED_OVERRIDDEN", "FAN_1_SPEED_OVERRIDDEN", "FAN_2_WARNING",
      "FAN_1_WARNING", "FAN_2_FAULT", "FAN_1_FAULT"}},
    {0x82, "STATUS_FANS_3_4", 1 << 10,
     {"RESERVED_0", "RESERVED_1", "FAN_4_SPEED_OVERRIDDEN", "FAN_3_SPEED_OVERRIDDEN", "FAN_4_WARNING",
      "FAN_3_WARNING", "FAN_4_FAULT", "FAN_3_FAULT"}},
};

// The identity blocks.
const struct {
    uint8_t code;
    const char *name;
} kIdentity[] = {{0x99, "MFR_ID"}, {0x9A, "MFR_MODEL"}, {0x9B, "MFR_REVISION"}};

// One command's read and what it means.
struct Item {
    std::string name;
    uint8_t code = 0;
    enum Kind { Byte, Word, Block } kind = Word;
    bool read = false;            // data came back
    uint16_t raw = 0;             // byte or word
    std::vector<uint8_t> block;   // block
    bool pecMismatch = false;
    std::string unsupported;      // why the device does not have it, when it says so
    std::string error;            // a bus error other than no acknowledge
    std::string unreadable;       // an answer that is not what the command returns
    std::optional<double> value;  // decoded
    const char *unit = nullptr;
    std::string format;           // how it was decoded, or why it was not
    std::vector<std::string> bits;
    std::string note;
};

struct Page {
    int number = -1;  // -1: the device has no PAGE
    std::vector<Item> items;
};

std::string Printable(const std::vector<uint8_t> &bytes)
{
    std::string s;
    for (uint8_t c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            s += char(c);
        } else {
            char esc[8];
            snprintf(esc, sizeof esc, "\\x%02x", c);
            s += esc;
        }
    }
    return s;
}

std::string Number(double v)
{
    char text[32];
    snprintf(text, sizeof text, "%.6g", v);
    return text;
}

class Session {
public:
    Session(int fd, const Request &r) : fd_(fd), r_(r)
    {
        unsigned long funcs = 0;
        // An adapter that ends a block read at the device's count reads no
        // byte past it: some devices keep such bytes for the next read.
        recvLen_ = Functions(fd, funcs) && (funcs & I2C_FUNC_SMBUS_READ_BLOCK_DATA);
        Select(false);
    }

    int Run();

private:
    void Select(bool pec)
    {
        pec_ = pec;
        I2cSetSlaveAddress(fd_, I2C_Addr_t(r_.address), pec);
    }

    // What a library call's rc and errno make of it.
    void Outcome(Item &item, int rc, int err)
    {
        if (rc == -1) {
            if (err == ENXIO || err == EREMOTEIO)
                item.unsupported = "no acknowledge";
            else
                item.error = strerror(err), busErrors_++;
            return;
        }
        item.read = true;
        if (rc == EBADMSG)
            item.pecMismatch = true, pecMismatches_++;
        if (rc == EMSGSIZE)
            item.unreadable = "no block: the device's count is above 32", item.read = false;
    }

    Item ReadByte(uint8_t code, const char *name)
    {
        Item item;
        item.name = name, item.code = code, item.kind = Item::Byte;
        uint8_t b = 0;
        const int rc = I2cReadByte(fd_, code, &b);
        Outcome(item, rc, errno);
        item.raw = b;
        return item;
    }

    Item ReadWord(uint8_t code, const char *name)
    {
        Item item;
        item.name = name, item.code = code;
        uint8_t w[2] = {};
        const int rc = I2cReadBytes(fd_, code, w, 2);
        Outcome(item, rc, errno);
        item.raw = uint16_t(w[0] | w[1] << 8);
        return item;
    }

    Item ReadBlock(uint8_t code, const char *name);
    void FaultCheck(Item &item);
    void Query(Item &item);
    std::optional<pmbus::Coefficients> Given(Quantity q) const;
    std::optional<pmbus::Coefficients> CoefficientsFor(const Telemetry &t);
    void Decode(Item &item, const Telemetry &t);
    void Status(Page &page);
    void ReadPage(Page &page);
    std::vector<int> Pages(int found);
    void Print(const std::vector<Item> &head, const std::vector<Page> &pages, int status) const;

    int fd_;
    const Request &r_;
    bool pec_ = false, recvLen_ = false;
    uint8_t capability_ = 0, voutMode_ = 0;
    bool voutModeKnown_ = false;
    // Whether STATUS_WORD can tell that a read raised a fault: it answers,
    // and its CML bit is clear (it stays set once set).
    bool cmlWatch_ = false;
    int queryAnswers_ = -1;  // -1 not yet asked
    int pecMismatches_ = 0, busErrors_ = 0;
    std::vector<std::string> notes_;
};

// A block read that ends at the device's count where the adapter can
// (I2C_M_RECV_LEN, as the kernel's own SMBus block read does), the PEC
// behind it checked here; else the library's fixed-length block read.
Item Session::ReadBlock(uint8_t code, const char *name)
{
    Item item;
    item.name = name, item.code = code, item.kind = Item::Block;
    if (!recvLen_) {
        uint8_t data[I2C_TRANSFER_MAX_DATA] = {}, count = 0;
        const int rc = I2cReadBlock(fd_, code, data, sizeof data, &count);
        Outcome(item, rc, errno);
        if (item.read)
            item.block.assign(data, data + std::min<unsigned>(count, sizeof data));
        return item;
    }
    uint8_t cmd = code;
    uint8_t in[1 + I2C_SMBUS_BLOCK_MAX + 1] = {uint8_t(pec_ ? 2 : 1)};  // i2c-dev: the bytes besides the data
    i2c_msg msgs[2] = {
        {.addr = uint16_t(r_.address), .flags = 0, .len = 1, .buf = &cmd},
        {.addr = uint16_t(r_.address), .flags = uint16_t(I2C_M_RD | I2C_M_RECV_LEN | (pec_ ? kMsgPec : 0)),
         .len = sizeof in, .buf = in},
    };
    i2c_rdwr_ioctl_data transfer = {.msgs = msgs, .nmsgs = 2};
    if (ioctl(fd_, I2C_RDWR, &transfer) != 2) {
        const int err = errno;
        // A count above 32 is refused by the adapter's driver (EPROTO): no
        // block came, which is no fault of the bus.
        if (err == EPROTO || err == EMSGSIZE)
            item.unreadable = "no block: the device's count is above 32";
        else
            Outcome(item, -1, err);
        return item;
    }
    const unsigned count = std::min<unsigned>(in[0], I2C_SMBUS_BLOCK_MAX);
    item.read = true;
    item.block.assign(in + 1, in + 1 + count);
    if (pec_) {
        uint8_t crc = Crc8(0, uint8_t(r_.address << 1));
        crc = Crc8(crc, code);
        crc = Crc8(crc, uint8_t(r_.address << 1 | 1));
        crc = Crc8Block(crc, in, 1 + count);
        if (crc != in[1 + count])
            item.pecMismatch = true, pecMismatches_++;
    }
    return item;
}

// After a read that came back: did it raise a communication fault? Then
// the device does not have the command (or refused the read): said so, and
// the fault is left for the user to see.
void Session::FaultCheck(Item &item)
{
    if (!cmlWatch_ || !item.read)
        return;
    uint8_t w[2] = {};
    if (I2cReadBytes(fd_, kStatusWord, w, 2) != 0)
        return;
    if (!((w[0] | w[1] << 8) & kCmlBit))
        return;
    cmlWatch_ = false;
    uint8_t cml = 0;
    const bool known = I2cReadByte(fd_, kStatusCml, &cml) == 0;
    char state[8] = "unread";
    if (known)
        snprintf(state, sizeof state, "0x%02x", cml);
    const std::string text = std::string("the read raised a communication fault (STATUS_CML ") + state +
                             "); it is left set";
    item.unsupported = text;
    item.read = false;
    notes_.push_back("a communication fault is pending since " + item.name +
                     ": later reads cannot be told apart by it");
}

// For a reading that raised no fault but is all ones: QUERY, where the
// device answers it, says whether it has the command.
void Session::Query(Item &item)
{
    if (!item.read || item.raw != 0xFFFF)
        return;
    if (queryAnswers_ != 0) {
        uint8_t answer[1] = {}, count = 0;
        const int rc = I2cProcessBlock(fd_, kQuery, &item.code, 1, answer, sizeof answer, &count);
        if ((rc == 0 || rc == EBADMSG) && count == 1) {
            queryAnswers_ = 1;
            if (!(answer[0] & 0x80)) {
                item.unsupported = "QUERY says the device has no such command";
                item.read = false;
            }
            return;
        }
        queryAnswers_ = 0;
    }
    item.note = "all ones: a reading the device may not have (it raised no fault and answers no QUERY)";
}

// The coefficients the command line gives for a quantity.
std::optional<pmbus::Coefficients> Session::Given(Quantity q) const
{
    for (const auto &[name, c] : r_.coefficients)
        if (name == kQuantities[q].key)
            return c;
    return std::nullopt;
}

// DIRECT's coefficients for a reading: the command line's, else the
// device's own COEFFICIENTS where it answers it.
std::optional<pmbus::Coefficients> Session::CoefficientsFor(const Telemetry &t)
{
    if (auto c = Given(t.quantity))
        return c;
    const uint8_t ask[2] = {t.code, 0x01};  // the command, and "for reading"
    uint8_t answer[5] = {}, count = 0;
    const int rc = I2cProcessBlock(fd_, kCoefficients, ask, 2, answer, sizeof answer, &count);
    if (rc != 0 || count != 5)
        return std::nullopt;
    pmbus::Coefficients c;
    c.m = int16_t(answer[0] | answer[1] << 8);
    c.b = int16_t(answer[2] | answer[3] << 8);
    c.R = int8_t(answer[4]);
    if (c.m == 0)
        return std::nullopt;
    return c;
}

void Session::Decode(Item &item, const Telemetry &t)
{
    item.unit = kQuantities[t.quantity].unit;
    const bool given = Given(t.quantity).has_value();
    pmbus::VoutFormat vout = pmbus::VoutModeFormat(voutMode_);
    enum { Linear11, Linear16, Direct, Half, Vid, Unknown } format;
    if (t.quantity == kVout)
        format = !voutModeKnown_                          ? Unknown
                 : vout == pmbus::VoutFormat::Linear16    ? Linear16
                 : vout == pmbus::VoutFormat::Direct      ? Direct
                 : vout == pmbus::VoutFormat::Half        ? Half
                 : vout == pmbus::VoutFormat::Vid         ? Vid
                                                          : Unknown;
    else
        format = given || (voutModeKnown_ && vout == pmbus::VoutFormat::Direct) ? Direct
                 : capability_ & 0x08                                          ? Half
                                                                                : Linear11;
    char text[96];
    switch (format) {
    case Linear11:
        item.value = pmbus::Linear11(item.raw);
        item.format = "LINEAR11";
        break;
    case Linear16:
        item.value = pmbus::Linear16(item.raw, voutMode_);
        snprintf(text, sizeof text, "LINEAR16, exponent %d", pmbus::VoutModeExponent(voutMode_));
        item.format = text;
        break;
    case Half:
        item.value = pmbus::Half(item.raw);
        item.format = "IEEE half";
        break;
    case Vid:
        snprintf(text, sizeof text, "VID, code type %u: printed raw", voutMode_ & 0x1Fu);
        item.format = text;
        break;
    case Direct:
        if (auto c = CoefficientsFor(t)) {
            item.value = pmbus::Direct(item.raw, *c);
            snprintf(text, sizeof text, "DIRECT m=%d b=%d R=%d", c->m, c->b, c->R);
            item.format = text;
        } else {
            snprintf(text, sizeof text, "DIRECT, no coefficients (--coefficients %s=M,B,R)",
                     kQuantities[t.quantity].key);
            item.format = text;
        }
        break;
    case Unknown:
        item.format = voutModeKnown_ ? "VOUT_MODE's mode is reserved: printed raw" : "no VOUT_MODE: printed raw";
        break;
    }
}

// STATUS_WORD (or STATUS_BYTE where it has no word) and the status bytes its
// bits point to, bits by name.
void Session::Status(Page &page)
{
    Item word = ReadWord(kStatusWord, "STATUS_WORD");
    unsigned bits = 16;
    if (!word.read) {
        page.items.push_back(word);
        word = ReadByte(kStatusByte, "STATUS_BYTE");
        bits = 8;
    }
    cmlWatch_ = word.read && word.name == "STATUS_WORD" && !(word.raw & kCmlBit);
    if (word.read)
        for (unsigned b = 0; b < bits; b++)
            if (word.raw & (1u << b))
                word.bits.push_back(kStatusWordBits[b]);
    const uint16_t set = word.read ? word.raw : 0;
    page.items.push_back(word);
    for (const StatusByte &s : kStatusBytes) {
        if (!(set & s.wordBit))
            continue;
        Item item = ReadByte(s.code, s.name);
        if (item.read)
            for (unsigned b = 0; b < 8; b++)
                if (item.raw & (1u << b))
                    item.bits.push_back(s.bits[b]);
        page.items.push_back(item);
    }
}

void Session::ReadPage(Page &page)
{
    Item mode = ReadByte(kVoutMode, "VOUT_MODE");
    voutModeKnown_ = mode.read;
    voutMode_ = uint8_t(mode.raw);
    if (mode.read) {
        const pmbus::VoutFormat f = pmbus::VoutModeFormat(voutMode_);
        mode.format = pmbus::FormatName(f);
        if (f == pmbus::VoutFormat::Linear16)
            mode.format += ", exponent " + std::to_string(pmbus::VoutModeExponent(voutMode_));
    }
    page.items.push_back(mode);
    Status(page);
    for (const Telemetry &t : kTelemetry) {
        Item item = ReadWord(t.code, t.name);
        FaultCheck(item);
        Query(item);
        if (item.read)
            Decode(item, t);
        page.items.push_back(item);
    }
}

// The pages to read: the one found, the one asked for, or every page the
// device takes (PAGE written from 0 up until it no longer reads back).
std::vector<int> Session::Pages(int found)
{
    if (r_.page >= 0)
        return {r_.page};
    if (r_.page == kPageAsFound)
        return {found};
    std::vector<int> pages;
    for (int p = 0; p < 32; p++) {
        uint8_t back = 0;
        if (I2cWriteByte(fd_, kPage, uint8_t(p)) != 0 || I2cReadByte(fd_, kPage, &back) != 0 || back != p)
            break;
        pages.push_back(p);
    }
    return pages;
}

int Session::Run()
{
    std::vector<Item> head;
    // CAPABILITY first, without PEC: whether to check PEC is what it says.
    Item capability = ReadByte(kCapability, "CAPABILITY");
    capability_ = capability.read ? uint8_t(capability.raw) : 0;
    const bool pec = r_.pec || (!r_.noPec && capability.read && (capability_ & 0x80));
    if (capability.read) {
        static const char *const speeds[4] = {"100 kHz", "400 kHz", "1 MHz", "reserved speed"};
        capability.format = std::string(capability_ & 0x80 ? "PEC" : "no PEC") + ", " +
                            speeds[(capability_ >> 5) & 3] + (capability_ & 0x10 ? ", SMBALERT#" : "") +
                            (capability_ & 0x08 ? ", IEEE half numbers" : "") + (capability_ & 0x04 ? ", AVSBus" : "");
    }
    Select(pec);
    if (pec && capability.read && !(capability_ & 0x80))
        notes_.push_back("--pec: reads are checked though CAPABILITY says the device has no PEC");
    if (!pec && capability.read && (capability_ & 0x80))
        notes_.push_back("--no-pec: reads are not checked though the device has PEC");
    Item revision = ReadByte(kPmbusRevision, "PMBUS_REVISION");
    if (revision.read) {
        char text[48];
        snprintf(text, sizeof text, "part I 1.%u, part II 1.%u", revision.raw >> 4, revision.raw & 0xFu);
        revision.format = text;
    }
    head.push_back(revision);
    // Paged or not: PAGE answers.
    Item page = ReadByte(kPage, "PAGE");
    // A page read that fails its PEC is not one to put back.
    if (page.pecMismatch)
        notes_.push_back("PAGE failed its PEC: the device is read on the page it is on, and PAGE is not written");
    const int found = page.read && !page.pecMismatch ? page.raw : -1;
    bool wrotePage = false;
    std::vector<Page> pages;
    if (found < 0 && r_.page != kPageAsFound) {
        fprintf(stderr, "tessel-smbus: 0x%02x on %s has no PAGE (%s): reading the one it has\n", r_.address,
                r_.bus.device.c_str(), page.unsupported.empty() ? page.error.c_str() : page.unsupported.c_str());
    }
    const std::vector<int> numbers = found < 0 ? std::vector<int>{-1} : Pages(found);
    for (int n : numbers) {
        Page p;
        p.number = n;
        wrotePage |= r_.page == kPageAll || n != found;
        if (n >= 0 && (n != found || r_.page == kPageAll) && I2cWriteByte(fd_, kPage, uint8_t(n)) != 0) {
            fprintf(stderr, "tessel-smbus: 0x%02x on %s refused PAGE %d: %s\n", r_.address, r_.bus.device.c_str(), n,
                    strerror(errno));
            busErrors_++;
            break;
        }
        ReadPage(p);
        pages.push_back(p);
    }
    // Put PAGE back as it was found.
    if (found >= 0 && wrotePage) {
        uint8_t now = 0;
        if (I2cReadByte(fd_, kPage, &now) != 0 || now != found) {
            if (I2cWriteByte(fd_, kPage, uint8_t(found)) != 0) {
                fprintf(stderr, "tessel-smbus: could not put PAGE back to %d: %s\n", found, strerror(errno));
                busErrors_++;
            }
        }
    }

    // The identity blocks last: a device that answers one with something
    // else than a block (a count above 32) may keep what was not read for
    // the next read, which then is none of these.
    for (const auto &id : kIdentity)
        head.push_back(ReadBlock(id.code, id.name));
    head.push_back(capability);

    bool any = false;
    for (const Item &i : head)
        any |= i.read;
    for (const Page &p : pages)
        for (const Item &i : p.items)
            any |= i.read;
    int status = kDone;
    if (!any) {
        fprintf(stderr, "tessel-smbus: nothing at 0x%02x on %s answered a PMBus read\n", r_.address,
                r_.bus.device.c_str());
        status = kBusError;
    } else if (busErrors_) {
        status = kBusError;
    } else if (pecMismatches_) {
        fprintf(stderr, "tessel-smbus: PEC mismatch on %d read%s (marked): what was read is printed, but it may be "
                        "corrupt\n", pecMismatches_, pecMismatches_ > 1 ? "s" : "");
        status = kPecMismatch;
    }
    Print(head, pages, status);
    return status;
}

void PutItem(Json &json, const Item &i)
{
    json.Object(i.name.c_str()).Put("command", unsigned(i.code));
    if (!i.unsupported.empty())
        json.Put("supported", false).Put("why", i.unsupported);
    else if (!i.error.empty())
        json.Put("error", i.error);
    else if (!i.unreadable.empty())
        json.Put("unreadable", i.unreadable);
    if (i.read) {
        if (i.kind == Item::Block) {
            json.Put("text", std::string(i.block.begin(), i.block.end())).Array("bytes");
            for (uint8_t b : i.block)
                json.Put(nullptr, unsigned(b));
            json.Close();
        } else {
            json.Put("raw", unsigned(i.raw));
        }
        if (i.value)
            json.Put("value", *i.value).Put("unit", i.unit);
        if (!i.format.empty())
            json.Put("format", i.format);
        if (i.kind != Item::Block && (!i.bits.empty() || i.name.rfind("STATUS_", 0) == 0)) {
            json.Array("bits");
            for (const std::string &b : i.bits)
                json.Put(nullptr, b);
            json.Close();
        }
        if (i.pecMismatch)
            json.Put("pec", "mismatch");
        if (!i.note.empty())
            json.Put("note", i.note);
    }
    json.Close();
}

void PrintItem(const Item &i)
{
    printf("  %-20s ", i.name.c_str());
    if (!i.unsupported.empty()) {
        printf("not supported: %s\n", i.unsupported.c_str());
        return;
    }
    if (!i.read) {
        printf("%s%s\n", i.error.empty() ? "" : "bus error: ", i.error.empty() ? i.unreadable.c_str() : i.error.c_str());
        return;
    }
    std::string line;
    char raw[16];
    if (i.kind == Item::Block) {
        line = "\"" + Printable(i.block) + "\"";
    } else {
        snprintf(raw, sizeof raw, i.kind == Item::Byte ? "0x%02x" : "0x%04x", i.raw);
        line = raw;
    }
    if (i.value)
        line += "  " + Number(*i.value) + " " + i.unit;
    if (!i.format.empty())
        line += "  (" + i.format + ")";
    for (const std::string &b : i.bits)
        line += " " + b;
    if (i.pecMismatch)
        line += "  PEC MISMATCH";
    if (!i.note.empty())
        line += "  " + i.note;
    printf("%s\n", line.c_str());
}

void Session::Print(const std::vector<Item> &head, const std::vector<Page> &pages, int status) const
{
    if (!r_.json) {
        printf("%s 0x%02x, PEC %s\n", r_.bus.device.c_str(), r_.address, pec_ ? "checked" : "not checked");
        for (const Item &i : head)
            PrintItem(i);
        for (const Page &p : pages) {
            if (p.number >= 0)
                printf("page %d\n", p.number);
            for (const Item &i : p.items)
                PrintItem(i);
        }
        for (const std::string &n : notes_)
            printf("note: %s\n", n.c_str());
        return;
    }
    Json json;
    json.Object().Put("bus", r_.bus.device).Put("address", r_.address).Put("pec", pec_).Put("exit", status);
    for (const Item &i : head)
        PutItem(json, i);
    json.Array("pages");
    for (const Page &p : pages) {
        json.Object();
        if (p.number >= 0)
            json.Put("page", p.number);
        else
            json.Null("page");
        for (const Item &i : p.items)
            PutItem(json, i);
        json.Close();
    }
    json.Close().Array("notes");
    for (const std::string &n : notes_)
        json.Put(nullptr, n);
    printf("%s\n", json.Close().Close().Text().c_str());
}

}  // namespace

bool KnownQuantity(const std::string &name)
{
    for (const auto &q : kQuantities)
        if (name == q.key)
            return true;
    return false;
}

std::string QuantityNames()
{
    std::string names;
    for (const auto &q : kQuantities)
        names += std::string(names.empty() ? "" : ", ") + q.key;
    return names;
}

int Pmbus(int fd, const Request &r)
{
    return Session(fd, r).Run();
}
