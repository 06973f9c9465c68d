#include <pmbus_format.h>

int main()
{
    // 0xE060 is 6.0 in LINEAR11; 0x0180 with VOUT_MODE 0x17 is 0.75 V.
    return pmbus::Linear11(0xE060) == 6.0 && pmbus::Linear16(0x0180, 0x17) == 0.75 ? 0 : 1;
}
