#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/platform.h"

namespace zerik::os {
namespace {

struct ThreadStart {
    ThreadEntry entry;
    void* arg;
    ThreadPriority priority;
};

void* ThreadMain(void* raw) {
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
    if (start->priority == ThreadPriority::Highest) {
        // One step above the process's nice value; an unprivileged process
        // may not get it, which only costs latency.
        const auto tid = static_cast<id_t>(syscall(SYS_gettid));
        errno = 0;
        const int nice_now = getpriority(PRIO_PROCESS, tid);
        if (errno == 0) setpriority(PRIO_PROCESS, tid, nice_now - 2);
    }
    start->entry(start->arg);
    return nullptr;
}

}  // namespace

bool StartThread(ThreadEntry entry, void* arg, ThreadPriority priority) {
    auto start = std::make_unique<ThreadStart>(ThreadStart{entry, arg, priority});
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, ThreadMain, start.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) return false;
    start.release();  // the thread owns it now
    return true;
}

void SleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

uint32_t ProcessPriorityClass() {
    errno = 0;
    const int nice_value = getpriority(PRIO_PROCESS, 0);
    if (errno != 0 || nice_value == 0) return 0x20;
    if (nice_value <= -15) return 0x80;
    if (nice_value < 0) return 0x8000;
    if (nice_value < 15) return 0x4000;
    return 0x40;
}

uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

LocalTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    localtime_r(&ts.tv_sec, &parts);
    return LocalTime{parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                     static_cast<int>(ts.tv_nsec / 1000000)};
}

}  // namespace zerik::os
