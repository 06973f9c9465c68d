// ioctl(2) taken over at the kernel boundary: a program linked with
// -Wl,--wrap=ioctl calls __wrap_ioctl, which unpacks the one argument and
// hands the call to WrappedIoctl, defined by the program; __real_ioctl is
// the kernel's. Include it in one source file of the program.
#pragma once

#include <cstdarg>

extern "C" int __real_ioctl(int fd, unsigned long request, ...);

int WrappedIoctl(int fd, unsigned long request, unsigned long arg);

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    const unsigned long arg = va_arg(args, unsigned long);
    va_end(args);
    return WrappedIoctl(fd, request, arg);
}
