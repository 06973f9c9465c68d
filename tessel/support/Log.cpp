#include "Log.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>

int gDebug = 0;

namespace {

// Callers read errno after a failed call, so writing a line must not change it.
class ErrnoKeeper {
public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }

private:
    int saved_;
};

void WriteLine(FILE *to, const char *fmt, va_list args)
{
    vfprintf(to, fmt, args);
    fflush(to);
}

}  // namespace

extern "C" void Log(const char *fmt, ...)
{
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    WriteLine(stdout, fmt, args);
    va_end(args);
}

extern "C" void LogError(const char *fmt, ...)
{
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    WriteLine(stderr, fmt, args);
    va_end(args);
}

extern "C" void DumpMem(const char *label, unsigned offset, const void *data, unsigned len)
{
    ErrnoKeeper keep;
    const auto *bytes = static_cast<const uint8_t *>(data);
    printf("%s (%u bytes)\n", label, len);
    for (unsigned row = 0; row < len; row += 16) {
        printf("  %04x:", offset + row);
        for (unsigned i = row; i < len && i < row + 16; i++)
            printf(" %02x", bytes[i]);
        printf("\n");
    }
    fflush(stdout);
}
