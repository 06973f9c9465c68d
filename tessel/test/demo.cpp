// The battery gauge example against a simulated smart battery, with traces on.
#include "../example/battery_gauge.h"
#include "Log.h"
#include "SimBus.h"

#include <cstring>

int main()
{
    sim::SimBus bus;
    sim::Device &battery = bus.add(0x0B);
    battery.pec = true;
    battery.regs[0x09] = 0x2C;  // 0x2E2C = 11820 mV
    battery.regs[0x0A] = 0x2E;
    battery.regs[0x0D] = 87;    // %
    const char name[] = "tessel cells";
    battery.blocks[0x20].assign(name, name + strlen(name));
    gDebug = 1;
    return ReportBattery(bus.fd(), 0x0B);
}
