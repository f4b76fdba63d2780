// Test support: the application's side of page hand-over. An allocator of
// global memory and a handler that checks each page against the simulated
// scanner's data pattern, notes it and frees it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "page_stream.h"
#include "zerik_dll.h"

namespace zerik::test {

struct DeliveredPage {
    uint32_t idx;
    uint32_t page_no;
    uint32_t dpi;
    uint32_t layer;
    uint32_t alloc_size;
    uint32_t width;
    uint32_t height;
    uint32_t image_size;
    bool data_matches;  // the image bytes follow the simulated scanner's pattern
    bool was_unlocked;  // the library handed the memory over unlocked
};

class PageSink {
  public:
    static ZkGlobalHandle Allocate(uint32_t* size, void* /*user*/) {
        return ZkGlobalAlloc(ZK_GHND, *size);
    }

    static int Handle(PageRecord* record, void* user) {
        auto* self = static_cast<PageSink*>(user);
        DeliveredPage page{
            record->Idx, record->PageNo, record->Dpi, record->Layer, record->AllocSize, 0, 0,
            0,           false,          false};
        const auto* base = static_cast<const uint8_t*>(ZkGlobalLock(record->Memory));
        if (base != nullptr) {
            page.width = Le32(base + 4);
            page.height = Le32(base + 8);
            page.image_size = Le32(base + 20);
            page.data_matches = true;
            if (self->check_data_) {
                for (uint32_t i = 0; i < page.image_size; ++i) {
                    if (base[1064 + i] !=
                        sim::PageDataByte(static_cast<uint8_t>(record->PageNo), i)) {
                        page.data_matches = false;
                        break;
                    }
                }
            }
            page.was_unlocked = ZkGlobalUnlock(record->Memory) == 0;
        }
        ZkGlobalFree(record->Memory);
        std::chrono::milliseconds delay;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->pages_.push_back(page);
            delay = self->delay_;
            self->delay_ = std::chrono::milliseconds(0);
        }
        self->cond_.notify_all();
        std::this_thread::sleep_for(delay);
        return 0;
    }

    // The next handler call takes this long before it returns.
    void DelayNextCall(std::chrono::milliseconds delay) {
        std::lock_guard<std::mutex> lock(mutex_);
        delay_ = delay;
    }
    void CheckData(bool check) { check_data_ = check; }

    // Waits until `count` pages have been handed over; false on time-out.
    bool WaitForPages(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cond_.wait_for(lock, timeout, [&] { return pages_.size() >= count; });
    }
    std::vector<DeliveredPage> Pages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pages_;
    }

  private:
    static uint32_t Le32(const uint8_t* p) {
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }

    std::mutex mutex_;
    std::condition_variable cond_;
    std::vector<DeliveredPage> pages_;
    std::chrono::milliseconds delay_{0};
    bool check_data_ = true;
};

}  // namespace zerik::test
