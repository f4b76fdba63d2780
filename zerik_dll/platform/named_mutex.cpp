// Named mutexes as robust, recursive, process-shared pthread mutexes in POSIX
// shared memory. The object name carries the user id, and an object that
// another user owns is refused, so one user cannot block another.
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace zerik::os {

struct NamedMutex::Shared {
    std::atomic<uint32_t> ready;  // 1 once the creator has initialised the mutex
    pthread_mutex_t mutex;
};

namespace {

constexpr uint32_t kReady = 0x5A4D5458u;  // "ZMTX"

bool InitMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

timespec Deadline(uint32_t timeout_ms) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += static_cast<time_t>(timeout_ms / 1000);
    ts.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

constexpr std::size_t kMaxNamespace = 64;

std::string ObjectName(const std::string& name) {
    std::string object = "/zerik-" + std::to_string(getuid()) + "-" + name;
    const char* space = std::getenv("ZERIK_OBJECT_NAMESPACE");
    if (space == nullptr || space[0] == '\0') return object;
    object += '-';
    for (std::size_t i = 0; space[i] != '\0' && i < kMaxNamespace; ++i) {
        const char c = space[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        object += plain ? c : '_';
    }
    return object;
}

}  // namespace

void NamedMutex::Remove(const std::string& name) { shm_unlink(ObjectName(name).c_str()); }

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
    const std::string object = ObjectName(name);
    bool created = true;
    int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_uid != getuid() || (st.st_mode & 077) != 0) {
        close(fd);
        return nullptr;
    }
    if (created && ftruncate(fd, sizeof(Shared)) != 0) {
        close(fd);
        shm_unlink(object.c_str());
        return nullptr;
    }
    // A creator may not have sized the object yet.
    for (int i = 0; i < 1000 && static_cast<std::size_t>(st.st_size) < sizeof(Shared); ++i) {
        SleepMs(1);
        if (fstat(fd, &st) != 0) break;
    }
    if (static_cast<std::size_t>(st.st_size) < sizeof(Shared)) {
        close(fd);
        return nullptr;
    }
    void* map = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return nullptr;
    auto* shared = static_cast<Shared*>(map);
    if (created) {
        if (!InitMutex(&shared->mutex)) {
            munmap(map, sizeof(Shared));
            shm_unlink(object.c_str());
            return nullptr;
        }
        shared->ready.store(kReady, std::memory_order_release);
    } else {
        // Wait for the creator; one that died before finishing leaves the
        // object to us.
        int waited = 0;
        while (shared->ready.load(std::memory_order_acquire) != kReady && waited < 1000) {
            SleepMs(1);
            ++waited;
        }
        if (shared->ready.load(std::memory_order_acquire) != kReady) {
            if (!InitMutex(&shared->mutex)) {
                munmap(map, sizeof(Shared));
                return nullptr;
            }
            shared->ready.store(kReady, std::memory_order_release);
        }
    }
    return std::make_unique<NamedMutex>(Key{}, shared);
}

NamedMutex::~NamedMutex() { munmap(shared_, sizeof(Shared)); }

WaitResult NamedMutex::Wait(uint32_t timeout_ms) {
    int rc;
    if (timeout_ms == kInfinite) {
        rc = pthread_mutex_lock(&shared_->mutex);
    } else {
        const timespec deadline = Deadline(timeout_ms);
        rc = pthread_mutex_timedlock(&shared_->mutex, &deadline);
    }
    switch (rc) {
        case 0:
            return WaitResult::Acquired;
        case EOWNERDEAD:
            pthread_mutex_consistent(&shared_->mutex);
            return WaitResult::Abandoned;
        case ETIMEDOUT:
            return WaitResult::Timeout;
        default:
            return WaitResult::Failed;
    }
}

void NamedMutex::Release() { pthread_mutex_unlock(&shared_->mutex); }

NamedMutexLock::NamedMutexLock(NamedMutex* mutex, uint32_t timeout_ms) : mutex_(mutex) {
    if (mutex_ == nullptr) return;
    const WaitResult result = mutex_->Wait(timeout_ms);
    owns_ = result == WaitResult::Acquired || result == WaitResult::Abandoned;
}

NamedMutexLock::~NamedMutexLock() {
    if (owns_) mutex_->Release();
}

}  // namespace zerik::os
