// tessel-smbus's own support layer, in place of libtessel_support.a's Log
// and LogError: the library's lines would come on top of the tool's own
// one line per failure (and, for a scan, one per empty address), so they
// are written only with --debug. The CRC-8 is still the library's.
#include "tool.h"

#include <Log.h>

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>

namespace {

void Line(FILE *to, const char *fmt, va_list args)
{
    const int saved = errno;  // callers read errno after a failed call
    vfprintf(to, fmt, args);
    fflush(to);
    errno = saved;
}

}  // namespace

bool gLibraryLines = false;

extern "C" {

int gDebug = 0;

void Log(const char *fmt, ...)
{
    if (!gLibraryLines)
        return;
    va_list args;
    va_start(args, fmt);
    Line(stderr, fmt, args);  // stdout is the tool's output
    va_end(args);
}

void LogError(const char *fmt, ...)
{
    if (!gLibraryLines)
        return;
    va_list args;
    va_start(args, fmt);
    Line(stderr, fmt, args);
    va_end(args);
}

void DumpMem(const char *label, unsigned offset, const void *data, unsigned len)
{
    if (!gLibraryLines)
        return;
    const int saved = errno;
    const auto *bytes = static_cast<const uint8_t *>(data);
    fprintf(stderr, "%s (%u bytes)\n", label, len);
    for (unsigned row = 0; row < len; row += 16) {
        fprintf(stderr, "  %04x:", offset + row);
        for (unsigned i = row; i < len && i < row + 16; i++)
            fprintf(stderr, " %02x", bytes[i]);
        fprintf(stderr, "\n");
    }
    errno = saved;
}

}  // extern "C"
