// Integration tests on a real Linux I2C stack: runs as /init of an emulated
// ARM board (QEMU's AST2600 evaluation board), loads i2c-dev and the
// controller driver, talks to the board's emulated devices through the
// public API only, prints one line per case and a closing summary, and
// reboots (which ends QEMU).
#include "i2c.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

int gPassed, gFailed;

void Report(bool ok, const char *name, const char *fmt, ...)
{
    char detail[2048];
    va_list args;
    va_start(args, fmt);
    vsnprintf(detail, sizeof detail, fmt, args);
    va_end(args);
    printf("%s %s: %s\n", ok ? "PASS" : "FAIL", name, detail);
    (ok ? gPassed : gFailed)++;
}

// What the library writes to stderr while fn runs.
template <class Fn> std::string ErrorLines(Fn fn)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "(no pipe)";
    fflush(stderr);
    const int saved = dup(2);
    dup2(pipeFds[1], 2);
    fn();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(pipeFds[1]);
    char buf[512];
    const ssize_t n = read(pipeFds[0], buf, sizeof buf - 1);
    close(pipeFds[0]);
    return std::string(buf, n > 0 ? size_t(n) : 0);
}

std::string Hex(const uint8_t *bytes, unsigned len)
{
    std::string out;
    char b[4];
    for (unsigned i = 0; i < len; i++) {
        snprintf(b, sizeof b, i ? " %02x" : "%02x", bytes[i]);
        out += b;
    }
    return out;
}

int OpenBus(int bus)
{
    char path[32];
    snprintf(path, sizeof path, "/dev/i2c-%d", bus);
    for (int tries = 0; tries < 200; tries++) {  // devtmpfs adds the node as the adapter registers
        const int fd = open(path, O_RDWR);
        if (fd >= 0)
            return fd;
        usleep(10000);
    }
    Report(false, "open bus", "%s: %s", path, strerror(errno));
    return -1;
}

// Selects a device and reports whether the kernel took the address.
bool Select(int fd, I2C_Addr_t addr, int crc, const char *name)
{
    const std::string err = ErrorLines([&] { I2cSetSlaveAddress(fd, addr, crc); });
    Report(err.empty(), name, "address 0x%02x%s%s", addr, err.empty() ? " selected" : ": ", err.c_str());
    return err.empty();
}

void Eeprom()
{
    const int fd = OpenBus(7);
    if (fd < 0 || !Select(fd, 0x50, 0, "eeprom select (bus 7, 0x50)"))
        return;
    const uint8_t values[] = {0x5A, 0xA5};
    for (uint8_t v : values) {
        uint8_t back = 0;
        const int w = I2cWriteByte(fd, 0x20, v);
        const int r = I2cReadByte(fd, 0x20, &back);
        Report(w == 0 && r == 0 && back == v, "eeprom write byte, read it back",
               "wrote %02x at 0x20 (rc %d), read %02x (rc %d)", v, w, back, r);
    }
    const uint8_t word[2] = {0x12, 0x34};
    uint8_t got[2] = {};
    const int w = I2cWriteBytes(fd, 0x30, word, 2);
    const int r = I2cReadBytes(fd, 0x30, got, 2);
    Report(w == 0 && r == 0 && memcmp(word, got, 2) == 0, "eeprom write word, read it back",
           "wrote 12 34 at 0x30 (rc %d), read %s (rc %d)", w, Hex(got, 2).c_str(), r);
    close(fd);
}

void TemperatureSensor()
{
    const int fd = OpenBus(8);
    if (fd < 0 || !Select(fd, 0x4d, 0, "temperature sensor select (bus 8, 0x4d)"))
        return;
    // LM75-family power-on limits: hysteresis 75 C, over-temperature 80 C,
    // as big-endian words in units of 1/256 C.
    uint8_t hyst[2] = {}, os[2] = {}, high = 0;
    const int rh = I2cReadBytes(fd, 0x02, hyst, 2);
    const int ro = I2cReadBytes(fd, 0x03, os, 2);
    const int rb = I2cReadByte(fd, 0x03, &high);
    Report(rh == 0 && ro == 0 && rb == 0 && hyst[0] == 0x4b && hyst[1] == 0 && os[0] == 0x50 && os[1] == 0 &&
               high == 0x50,
           "temperature sensor word and byte reads",
           "T_hyst %s (rc %d), T_os %s (rc %d), T_os high byte %02x (rc %d)", Hex(hyst, 2).c_str(), rh,
           Hex(os, 2).c_str(), ro, high, rb);
    close(fd);
}

void Pmbus()
{
    const int fd = OpenBus(3);
    if (fd < 0)
        return;
    // Each block read gets a device of its own: the emulated PMBus device
    // keeps bytes read past its answer for the next read.
    if (Select(fd, 0x12, 0, "pmbus select (bus 3, 0x12)")) {
        uint8_t id[32] = {}, count = 0;
        const int rc = I2cReadBlock(fd, 0x99, id, sizeof id, &count);
        Report(rc == 0 && count == 3 && memcmp(id, "ADI", 3) == 0, "pmbus MFR_ID block read",
               "rc %d, count %u, data %s", rc, count, Hex(id, count).c_str());
    }
    if (Select(fd, 0x13, 1, "pmbus select with PEC (bus 3, 0x13)")) {
        uint8_t id[3] = {}, count = 0;
        int rc = 0;
        const std::string err = ErrorLines([&] { rc = I2cReadBlock(fd, 0x99, id, sizeof id, &count); });
        Report(rc == EBADMSG && count == 3 && memcmp(id, "ADI", 3) == 0 &&
                   err.rfind("I2cTransfer: CRC failed: Rcvd: 0x", 0) == 0,
               "block read with PEC from a device that sends none",
               "rc %d (EBADMSG %d), count %u, data %s, line: %s", rc, EBADMSG, count, Hex(id, count).c_str(),
               err.c_str());
    }
    if (Select(fd, 0x33, 0, "select an address where nothing answers (bus 3, 0x33)")) {
        uint8_t byte = 0xEE;
        int rc = 0, err = 0;
        const std::string line = ErrorLines([&] {
            rc = I2cReadByte(fd, 0x00, &byte);
            err = errno;
        });
        Report(rc == -1 && err == ENXIO && line == "I2cTransfer: ioctl failed: No such device or address (6)\n",
               "transfer to an address where nothing answers", "rc %d, errno %d (%s), line: %s", rc, err,
               strerror(err), line.c_str());
    }
    close(fd);
}

struct ToolRun {
    int status = -1;  // exit status, or -1
    std::string out, err;
};

// tessel-smbus (in the initramfs at /bin) with args, as a shell would run it.
ToolRun Tool(const std::vector<const char *> &args)
{
    ToolRun run;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return run;
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        std::vector<char *> argv{const_cast<char *>("tessel-smbus")};
        for (const char *a : args)
            argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        execv("/bin/tessel-smbus", argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    for (auto [fd, into] : {std::pair<int, std::string *>{outPipe[0], &run.out}, {errPipe[0], &run.err}}) {
        char buf[512];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            into->append(buf, size_t(n));
        close(fd);
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// What a scan of addresses 0x08-0x77 prints, i2cdetect's grid: the
// answering addresses by number, the ones a driver owns as UU.
std::string Grid(std::initializer_list<unsigned> answering, std::initializer_list<unsigned> owned = {})
{
    std::string grid = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
    char cell[8];
    for (unsigned row = 0; row < 0x80; row += 16) {
        snprintf(cell, sizeof cell, "%02x: ", row);
        grid += cell;
        for (unsigned a = row; a < row + 16; a++) {
            const auto in = [a](std::initializer_list<unsigned> list) {
                for (unsigned x : list)
                    if (x == a)
                        return true;
                return false;
            };
            snprintf(cell, sizeof cell, "%02x ", a);
            grid += a < 0x08 || a > 0x77 ? "   " : in(owned) ? "UU " : in(answering) ? cell : "-- ";
        }
        grid += "\n";
    }
    return grid;
}

// The command-line tool from the shell's side, one case a row: its
// arguments, exit status, what stdout is (or holds, for a listing) and what
// stderr holds.
struct ToolCase {
    std::string name;
    std::initializer_list<const char *> args;
    int status;
    std::string out, err;
    bool outHolds = false;
};

void RunTool(const ToolCase *cases, size_t n)
{
    for (const ToolCase *c = cases; c != cases + n; c++) {
        const ToolRun run = Tool(c->args);
        const bool out = c->outHolds ? run.out.find(c->out) != std::string::npos : run.out == c->out;
        Report(run.status == c->status && out && run.err.find(c->err) != std::string::npos, c->name.c_str(),
               "exit %d, stdout '%s', stderr '%s'", run.status, run.out.c_str(), run.err.c_str());
    }
}

// The same devices as the library cases, at the EEPROM while no driver
// has it.
void CommandLine()
{
    const ToolCase cases[] = {
        {"tool: PMBus MFR_ID block read", {"3", "0x10", "block-read", "0x99"}, 0, "count 3: 41 44 49\n", ""},
        {"tool: block read with PEC from a device that sends none", {"--pec", "3", "0x11", "block-read", "0x99"}, 4,
         "count 3: 41 44 49\n", "tessel-smbus: PEC mismatch"},
        {"tool: nothing answers", {"3", "0x33", "read-byte", "0x00"}, 1, "",
         "tessel-smbus: no acknowledge at 0x33 on /dev/i2c-3"},
        {"tool: EEPROM byte write", {"7", "0x50", "write-byte", "0x41", "0x5c"}, 0, "", ""},
        {"tool: EEPROM byte write", {"7", "0x50", "write-byte", "0x40", "0x77"}, 0, "", ""},
        {"tool: EEPROM byte read back", {"7", "0x50", "read-byte", "0x40"}, 0, "0x77\n", ""},
        // The EEPROM's address pointer has moved on to 0x41.
        {"tool: EEPROM receive byte, the next one", {"7", "0x50", "receive-byte"}, 0, "0x5c\n", ""},
        {"tool: EEPROM word write", {"/dev/i2c-7", "0x50", "write-word", "0x48", "0xbeef"}, 0, "", ""},
        {"tool: EEPROM word read back", {"/dev/i2c-7", "0x50", "read-word", "0x48"}, 0, "0xbeef\n", ""},
        {"tool: sensor T_os word", {"8", "0x4d", "read-word", "0x03"}, 0, "0x0050\n", ""},
        {"tool: I2C block read, no count byte", {"7", "0x50", "i2c-block-read", "0x40", "2"}, 0, "count 2: 77 5c\n",
         ""},
        {"tool: I2C block write, no count byte", {"7", "0x50", "i2c-block-write", "0x44", "0x01", "0x02"}, 0, "", ""},
        {"tool: dump of the EEPROM bytes written",
         {"dump", "7", "0x50", "0x40-0x49"},
         0,
         "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n"
         "40: 77 5c 00 00 01 02 00 00 ef be                      w\\..??..??      \n",
         ""},
        {"tool: scan of the PMBus devices", {"scan", "3"}, 0, Grid({0x10, 0x11, 0x12, 0x13}), ""},
        {"tool: scan of the EEPROM's bus", {"scan", "7"}, 0, Grid({0x50}), ""},
        {"tool: scan of the PMBus bus 4", {"scan", "4"}, 0, Grid({0x10, 0x40, 0x4e, 0x52}), ""},
        {"tool: scan of the sensor's bus", {"-y", "scan", "8"}, 0, Grid({0x4d}), ""},
        {"tool: list of the buses", {"list"}, 0, "i2c-7\ti2c       \t", "", true},
        {"tool: library lines only with --debug", {"--debug", "3", "0x33", "read-byte", "0x00"}, 1, "",
         "I2cTransfer: ioctl failed"},
    };
    RunTool(cases, sizeof cases / sizeof cases[0]);
}

// With the at24 driver bound to the EEPROM: refused unless forced, and a
// scan shows the address as owned.
void DriverOwned()
{
    for (int tries = 0; tries < 50 && access("/sys/bus/i2c/devices/7-0050/driver", F_OK) != 0; tries++)
        usleep(100000);
    const ToolCase cases[] = {
        {"tool: a driver's EEPROM is refused", {"7", "0x50", "write-byte", "0x42", "0x33"}, 1, "",
         "address 0x50 on /dev/i2c-7 is owned by the kernel driver at24; -f"},
        {"tool: and forced", {"-f", "7", "0x50", "write-byte", "0x42", "0x33"}, 0, "", ""},
        {"tool: and read back, forced, flags combined", {"-fy", "7", "0x50", "read-byte", "0x42"}, 0, "0x33\n", ""},
        // A 24c08 takes four addresses: at24 holds 0x51-0x53 as dummy clients.
        {"tool: scan shows the driver's addresses as UU", {"scan", "7"}, 0, Grid({}, {0x50, 0x51, 0x52, 0x53}), ""},
    };
    RunTool(cases, sizeof cases / sizeof cases[0]);
}

// What tessel-smbus pmbus printed for command on page (-1: the device has
// no PAGE): the raw word and the value, or false when it gave none.
bool Reading(const std::string &out, int page, const std::string &command, unsigned &raw, double &value)
{
    std::istringstream lines(out);
    int at = -1;
    for (std::string line; std::getline(lines, line);) {
        if (sscanf(line.c_str(), "page %d", &at) == 1)
            continue;
        char name[32];
        if (at == page && sscanf(line.c_str(), " %31s 0x%x %lf", name, &raw, &value) == 3 && command == name)
            return true;
    }
    return false;
}

std::vector<std::vector<std::string>> Table(const char *kind)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in("/pmbus-readings");
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> row;
        for (std::string w; words >> w;)
            row.push_back(w);
        if (!row.empty() && row[0] == kind)
            rows.push_back(std::vector<std::string>(row.begin() + 1, row.end()));
    }
    return rows;
}

// The settable PMBus devices on bus 4: every reading qom-set gave them read
// back by tessel-smbus pmbus within one step of its format.
void PmbusReadings()
{
    std::map<std::string, std::string> out;  // by device id
    for (const auto &d : Table("device")) {
        if (d.size() < 3 || d[1] == "max31785")  // the fan controller is the kernel driver's case
            continue;
        std::vector<const char *> args = {"--no-pec", "pmbus", "4", d[2].c_str()};
        for (size_t i = 3; i < d.size(); i++)
            args.push_back(d[i].c_str());
        const ToolRun run = Tool(args);
        Report(run.status == 0, ("pmbus: " + d[1] + " at 4 " + d[2] + " read out").c_str(), "exit %d, stderr '%s'",
               run.status, run.err.c_str());
        out[d[0]] = run.out;
        if (d[0] == "hsc") {
            // Identity and status as the device holds them: the same word a
            // plain read gets.
            const ToolRun word = Tool({"4", d[2].c_str(), "read-word", "0x79"});
            unsigned status = 0;
            const bool id = run.out.find("MFR_ID               \"ADI\"") != std::string::npos &&
                      run.out.find("MFR_MODEL            \"ADM1272-A1\"") != std::string::npos;
            const bool st = sscanf(word.out.c_str(), "0x%x", &status) == 1 &&
                            run.out.find("STATUS_WORD          " + word.out.substr(0, 6)) != std::string::npos;
            Report(id && st, "pmbus: adm1272 identity and STATUS_WORD", "STATUS_WORD by read-word %s",
                   word.out.c_str());
        }
    }
    for (const auto &r : Table("reading")) {
        if (r.size() < 7)
            continue;
        unsigned raw = 0;
        double value = NAN;
        const double want = atof(r[5].c_str()), step = atof(r[6].c_str());
        const bool got = Reading(out[r[0]], atoi(r[3].c_str()), r[4], raw, value);
        Report(got && std::fabs(value - want) <= step, ("pmbus: " + r[0] + " " + r[4] + " page " + r[3]).c_str(),
               "raw 0x%04x, ours %.6g, qom-set %s = %s (%.6g within %.4g)", raw, value, r[1].c_str(), r[2].c_str(),
               want, step);
    }
}

std::string Slurp(const std::string &path)
{
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

void WriteFile(const char *path, const char *text)
{
    const int fd = open(path, O_WRONLY);
    const ssize_t n = fd < 0 ? -1 : write(fd, text, strlen(text));
    if (n < 0)
        printf("board: cannot write '%s' to %s: %s\n", text, path, strerror(errno));
    if (fd >= 0)
        close(fd);
}

bool LoadModule(const char *path);

// QEMU's max31785 beside the kernel's own max31785 driver: while the driver
// holds it, the tool refuses it (the kernel's EBUSY, with sysfs and without)
// and a scan shows UU; its hwmon readings, then ours once it is unbound.
void KernelDriver()
{
    if (!LoadModule("/modules/pmbus_core.ko") || !LoadModule("/modules/max31785.ko"))
        return;
    WriteFile("/sys/bus/i2c/devices/i2c-4/new_device", "max31785 0x52");
    const std::string hwmon = "/sys/bus/i2c/devices/4-0052/hwmon/hwmon0/";
    for (int tries = 0; tries < 50 && access((hwmon + "fan1_input").c_str(), F_OK) != 0; tries++)
        usleep(100000);
    // fan1-6 are pages 0-5, temp1-11 pages 6-16, in1-6 pages 17-22.
    struct Row {
        std::string file;
        int page;
        const char *command;
        double scale;  // hwmon units per unit of ours
        double step;
        std::string kernel;
    };
    std::vector<Row> rows;
    for (int k = 1; k <= 6; k++)
        rows.push_back({"fan" + std::to_string(k) + "_input", k - 1, "READ_FAN_SPEED_1", 1, 1, ""});
    for (int k = 1; k <= 11; k++)
        rows.push_back({"temp" + std::to_string(k) + "_input", k + 5, "READ_TEMPERATURE_1", 1000, 10, ""});
    for (int k = 1; k <= 6; k++)
        rows.push_back({"in" + std::to_string(k) + "_input", k + 16, "READ_VOUT", 1000, 1, ""});
    for (Row &row : rows)
        row.kernel = Slurp(hwmon + row.file);

    const ToolCase owned[] = {
        {"tool: the kernel driver's max31785 is refused", {"pmbus", "4", "0x52"}, 1, "",
         "address 0x52 on /dev/i2c-4 is owned by the kernel driver max31785; -f"},
        {"tool: scan shows it as UU", {"scan", "4"}, 0, Grid({0x10, 0x40, 0x4e}, {0x52}), ""},
    };
    RunTool(owned, sizeof owned / sizeof owned[0]);
    // No sysfs (an initramfs that mounts none): the kernel still says so.
    umount("/sys");
    const ToolCase blind[] = {
        {"tool: without sysfs still refused", {"4", "0x52", "read-word", "0x90"}, 1, "",
         "address 0x52 on /dev/i2c-4 is owned by a kernel driver; -f"},
        {"tool: without sysfs scan shows UU", {"scan", "4"}, 0, Grid({0x10, 0x40, 0x4e}, {0x52}), ""},
    };
    RunTool(blind, sizeof blind / sizeof blind[0]);
    mount("sysfs", "/sys", "sysfs", 0, nullptr);

    WriteFile("/sys/bus/i2c/drivers/max31785/unbind", "4-0052");
    const ToolRun run = Tool({"--no-pec", "pmbus", "4", "0x52", "--page", "all", "--coefficients", "fan=1,0,0",
                              "--coefficients", "temp=1,0,2", "--coefficients", "vout=1,0,3"});
    Report(run.status == 0, "pmbus: max31785 read out, every page", "exit %d, stderr '%s'", run.status,
           run.err.c_str());
    for (const Row &row : rows) {
        unsigned raw = 0;
        double value = NAN;
        const bool got = Reading(run.out, row.page, row.command, raw, value);
        const bool kernel = !row.kernel.empty();
        Report(got && kernel && std::fabs(value * row.scale - atof(row.kernel.c_str())) <= row.step,
               ("pmbus: max31785 page " + std::to_string(row.page) + " " + row.command + " vs " + row.file).c_str(),
               "raw 0x%04x, ours %.6g, kernel driver %s", raw, value * row.scale,
               kernel ? row.kernel.c_str() : "(no file)");
    }
}

bool LoadModule(const char *path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    const int rc = fd < 0 ? -1 : int(syscall(SYS_finit_module, fd, "", 0));
    const int err = errno;
    if (fd >= 0)
        close(fd);
    if (rc != 0 && err != EEXIST) {
        printf("FAIL load %s: %s\n", path, strerror(err));
        return false;
    }
    return true;
}

void Board()
{
    mount("proc", "/proc", "proc", 0, nullptr);
    mount("sysfs", "/sys", "sysfs", 0, nullptr);
    mount("devtmpfs", "/dev", "devtmpfs", 0, nullptr);
    const int console = open("/dev/console", O_RDWR);
    if (console >= 0) {
        dup2(console, 1);
        dup2(console, 2);
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    utsname u{};
    uname(&u);
    char model[128] = "unknown";
    const int m = open("/proc/device-tree/model", O_RDONLY);
    if (m >= 0) {
        const ssize_t n = read(m, model, sizeof model - 1);
        model[n > 0 ? n : 0] = 0;
        close(m);
    }
    printf("board: %s; kernel: %s %s %s\n", model, u.sysname, u.release, u.machine);
}

}  // namespace

int main()
{
    Board();
    if (LoadModule("/modules/i2c-dev.ko") && LoadModule("/modules/i2c-aspeed.ko")) {
        CommandLine();  // first: each PMBus device answers one block read cleanly
        Eeprom();
        TemperatureSensor();
        Pmbus();
        PmbusReadings();
        KernelDriver();
        if (LoadModule("/modules/at24.ko"))  // last: the EEPROM cases before want it free
            DriverOwned();
    } else {
        gFailed++;
    }
    printf("%d passed, %d failed\n", gPassed, gFailed);
    fflush(stdout);
    sync();
    reboot(RB_AUTOBOOT);  // QEMU runs with -no-reboot: this ends it
    return 0;
}
