#include <webcam/process.h>

#include <ros/console_backend.h>
#include <ros/ros.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include <malloc.h>

namespace webcam {

namespace {

std::atomic<int> gStatus{-1};

void RequestShutdown(int)
{
    ros::requestShutdown();
}

void (*gConsolePrint)(void *, ros::console::Level, const char *, const char *, const char *, int) = nullptr;

// roscpp's own format for the levels it would print to stdout.
void PrintToStderr(void *handle, ros::console::Level level, const char *text, const char *file, const char *function,
                   int line)
{
    if (level >= ros::console::levels::Warn && gConsolePrint) {
        gConsolePrint(handle, level, text, file, function, line);
        return;
    }
    const ros::WallTime now = ros::WallTime::now();
    static const char *const kNames[] = {"DEBUG", " INFO", " WARN", "ERROR", "FATAL"};
    std::fprintf(stderr, "[%s] [%u.%09u]: %s\n", kNames[level < ros::console::levels::Count ? level : 0], now.sec,
                 now.nsec, text);
}

}  // namespace

void KeepFramesOnHeap()
{
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

void EndOnSigterm()
{
    std::signal(SIGTERM, RequestShutdown);
}

void EndProcess(int status)
{
    int unset = -1;
    gStatus.compare_exchange_strong(unset, status);
    ros::requestShutdown();
}

int ExitStatus()
{
    const int status = gStatus.load();
    return status < 0 ? 0 : status;
}

void ConsoleOffStdout()
{
    if (ros::console::backend::function_print != PrintToStderr) {
        gConsolePrint = ros::console::backend::function_print;
        ros::console::backend::function_print = PrintToStderr;
    }
}

}  // namespace webcam
