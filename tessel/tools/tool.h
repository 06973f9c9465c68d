// What every part of tessel-smbus shares: its exit statuses, whether the
// library's own lines are shown, and the grid that scan and dump print.
#pragma once

// --debug: the library's own trace and error lines go to stderr too.
extern bool gLibraryLines;

// Exit statuses. i2c-tools' i2cget/i2cset exit 1 for a usage error and 2
// for a failed transfer; tessel-smbus tells more outcomes apart (README).
enum Status { kDone = 0, kBusError = 1, kUsage = 2, kCountTooLarge = 3, kPecMismatch = 4 };

// The column header of i2cdetect's and i2cdump's grids.
constexpr const char kGridHeader[] = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f";
