// The platform layer: the operating-system services the library builds on,
// behind names of our own. Nothing outside this folder includes a POSIX
// threading, shared-memory or time header for these purposes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace zerik::os {

// ---- Threads and time -------------------------------------------------------

enum class ThreadPriority { Normal, Highest };

using ThreadEntry = void (*)(void* arg);

// Starts a detached thread running entry(arg). The priority is a hint: a
// thread that cannot get it still runs. Returns false if no thread started.
bool StartThread(ThreadEntry entry, void* arg, ThreadPriority priority);

void SleepMs(uint32_t ms);

// The process's scheduling class, numbered as Windows priority classes:
// 0x20 normal, 0x8000 above normal, 0x80 high, 0x4000 below normal, 0x40 idle.
uint32_t ProcessPriorityClass();

// Milliseconds since an arbitrary start, wrapping at 2^32.
uint32_t TickCount();

struct LocalTime {
    int day;  // day of the month, 1..31
    int hour;
    int minute;
    int second;
    int millisecond;
};
LocalTime Now();

// ---- Synchronisation ---------------------------------------------------------

enum class WaitResult { Acquired, Abandoned, Timeout, Failed };

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A recursive mutex known by name to every process of the same user. Its
// owner dying releases it: the next waiter gets WaitResult::Abandoned and
// owns it. ZERIK_OBJECT_NAMESPACE, when set, gives a group of processes
// (a test and the programs it starts) names of their own.
class NamedMutex {
public:
    // Opens or creates the mutex; nullptr when that is not possible.
    static std::unique_ptr<NamedMutex> Open(const std::string& name);
    // Removes the name; mutexes already open stay usable.
    static void Remove(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    WaitResult Wait(uint32_t timeout_ms);
    void Release();

    struct Shared;
    struct Key {};  // only Open() constructs
    NamedMutex(Key, Shared* shared) : shared_(shared) {}

private:
    Shared* shared_;
};

// A manual-reset event: stays set until reset, wakes every waiter.
class Event {
public:
    void Set();
    void Reset();
    // True when the event is (or becomes) set within the time-out.
    bool Wait(uint32_t timeout_ms);

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool set_ = false;
};

// RAII owner of a named mutex wait.
class NamedMutexLock {
public:
    NamedMutexLock(NamedMutex* mutex, uint32_t timeout_ms);
    ~NamedMutexLock();
    NamedMutexLock(const NamedMutexLock&) = delete;
    NamedMutexLock& operator=(const NamedMutexLock&) = delete;
    bool owns() const { return owns_; }

private:
    NamedMutex* mutex_;
    bool owns_ = false;
};

// ---- Page memory -------------------------------------------------------------

// Number of global memory blocks not yet freed (leak checks).
std::size_t GlobalBlockCount();

// ---- Environment -------------------------------------------------------------

// The debugger output channel: stderr when ZERIK_DEBUG_OUTPUT is set to a
// non-empty value, otherwise nowhere.
void DebugOutput(const char* bytes, std::size_t length);

// ZERIK_SYSTEM_DIR, or the directory chosen at install time.
std::string SystemDirectory();

// The per-user runtime directory used for sockets when nothing else is
// configured: $XDG_RUNTIME_DIR/zerik, else /tmp/zerik-<uid>. Created with
// mode 0700 on first use; empty when it cannot be made safely.
std::string UserRuntimeDirectory();

// Creates `path` (one level) with mode 0700 if missing and checks that it is
// a directory owned by us that no one else may write.
bool EnsurePrivateDirectory(const std::string& path);

}  // namespace zerik::os
