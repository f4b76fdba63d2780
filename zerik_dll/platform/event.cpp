#include <chrono>

#include "platform/platform.h"

namespace zerik::os {

void Event::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
    }
    cond_.notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

bool Event::Wait(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeout_ms == kInfinite) {
        cond_.wait(lock, [this] { return set_; });
        return true;
    }
    return cond_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return set_; });
}

}  // namespace zerik::os
