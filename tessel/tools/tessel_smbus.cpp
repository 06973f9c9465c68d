// tessel-smbus: one SMBus transaction from the shell, with the packet error
// code computed and checked by tessel itself; and a bus's scan, a device's
// register dump and the list of buses, for a board's bring-up.
#include "args.h"
#include "device.h"
#include "survey.h"
#include "tool.h"

#include <stdio.h>
#include <string.h>

namespace {

const char kUsageText[] =
    "usage: tessel-smbus [OPTIONS] BUS ADDRESS TRANSACTION [ARGUMENTS]\n"
    "       tessel-smbus [-a] scan BUS\n"
    "       tessel-smbus [OPTIONS] dump BUS ADDRESS [FIRST-LAST]\n"
    "       tessel-smbus list\n"
    "       tessel-smbus [OPTIONS] pmbus BUS ADDRESS [--page N|all] [--coefficients Q=M,B,R]...\n"
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
    "          (short flags combine: -fy, -ya)\n"
    "  --json  one JSON object on stdout instead of the text\n"
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
    "0x50-0x5f (a read everywhere on an adapter without quick writes; ?? a probe\n"
    "that failed otherwise than by no acknowledge, and exit 1). dump: registers FIRST to LAST (default 0x00-0xff), one Read Byte\n"
    "Data each, as i2cdump shows them (XX no answer). list: the buses.\n"
    "\n"
    "pmbus: a PMBus device's identity, CAPABILITY, VOUT_MODE, STATUS_WORD and the\n"
    "status bytes it points to, and its telemetry (READ_VIN ... READ_PIN), each\n"
    "decoded (LINEAR11, LINEAR16 with VOUT_MODE's exponent, DIRECT, IEEE half)\n"
    "with the raw word beside it. Reads only, and PAGE, put back as found.\n"
    "  --page N|all      that page, or every page (default: the page it is on)\n"
    "  --coefficients Q=M,B,R  DIRECT's m, b, R for quantity Q (vin, iin, vout,\n"
    "                    iout, temp, fan, pout, pin); else the device's COEFFICIENTS\n"
    "  --pec / --no-pec  check PEC or not (default: as CAPABILITY bit 7 says)\n"
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
    "  tessel-smbus dump 8 0x4d 0x00-0x0f         a sensor's first 16 registers\n"
    "  tessel-smbus pmbus 3 0x10 --coefficients vin=4062,0,-2   a hot-swap controller\n";

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
        return List(r.json);
    case Mode::Scan:
        return Scan(r.bus, r.all, r.json);
    default:
        return Run(r);
    }
}
