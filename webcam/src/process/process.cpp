#include "process/process.h"
#include "graph/xmlrpc.h"

#include <ros/console_backend.h>
#include <ros/ros.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <malloc.h>
#include <semaphore.h>
#include <unistd.h>

namespace webcam {

namespace {

std::atomic<int> gStatus{-1};
sem_t gSignalled;

// How long the process has, once signalled, to shut roscpp down.
constexpr auto kGrace = std::chrono::milliseconds(1200);

void OnSignal(int)
{
    EndCalls();
    ros::requestShutdown();
    sem_post(&gSignalled);
}

// roscpp unregisters the node from the master as it shuts down, and waits
// for the master without end: one that is cut off, stopped or that never
// answers would hold the process for good. Past the grace the process ends
// without it (the master drops what is left as for any node that died;
// rosnode cleanup does at once), its output flushed, with its status.
void Watchdog()
{
    while (sem_wait(&gSignalled) != 0 && errno == EINTR) {
    }
    std::this_thread::sleep_for(kGrace);
    if (!ros::ok())
        return;  // shut down: the program ends on its own
    std::fprintf(stderr, "the ROS master did not answer in time; ending without unregistering from it\n");
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(ExitStatus());
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

void EndOnSignals()
{
    sem_init(&gSignalled, 0, 0);
    std::thread(Watchdog).detach();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
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
