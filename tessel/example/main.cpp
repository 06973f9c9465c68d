// tessel_example /dev/i2c-N [address]: report a smart battery gauge.
#include "battery_gauge.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s /dev/i2c-N [address]\n", argv[0]);
        return 2;
    }
    const int fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        fprintf(stderr, "%s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    const I2C_Addr_t addr = argc > 2 ? I2C_Addr_t(strtoul(argv[2], nullptr, 0)) : 0x0B;
    const int status = ReportBattery(fd, addr);
    close(fd);
    return status;
}
