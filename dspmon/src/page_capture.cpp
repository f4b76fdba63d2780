#include "page_capture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace dspmon {
namespace {

constexpr std::size_t kImageSizeOffset = 20;  // sixth 32-bit word of the header

uint32_t ReadLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void PageFileEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
    }
    cond_.notify_all();
}

void PageFileEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

bool PageFileEvent::Wait(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return set_; });
}

int PageCapture::OnPage(const PageRecord& record) {
    const ZkGlobalHandle memory = record.Memory;
    const auto* page = static_cast<const uint8_t*>(ZkGlobalLock(memory));
    if (page != nullptr) {
        // The header's image size is trusted only as far as the block reaches.
        const uint32_t block_size = ZkGlobalSize(memory);
        uint32_t length = 0;
        if (block_size >= kPageHeaderBytes) {
            length = std::min(ReadLe32(page + kImageSizeOffset), block_size - kPageHeaderBytes);
        }
        std::string name;
        {
            std::lock_guard<std::mutex> lock(name_mutex_);
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%03d", counter_);
            ++counter_;
            last_file_name_ = std::string(buffer) + ".prt";
            name = last_file_name_;
        }
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "wb"));
        if (file) {
            std::fwrite(page + kPageHeaderBytes, 1, length, file.get());
            file.reset();
            event_.Set();
        }
        ZkGlobalUnlock(memory);
    }
    ZkGlobalFree(memory);
    return 1;
}

std::string PageCapture::LastFileName() const {
    std::lock_guard<std::mutex> lock(name_mutex_);
    return last_file_name_;
}

PageCapture& Capture() {
    static PageCapture capture;
    return capture;
}

int HandlePage(PageRecord* record, void* /*user*/) {
    if (record == nullptr) return 1;
    return Capture().OnPage(*record);
}

ZkGlobalHandle AllocatePage(uint32_t* size, void* /*user*/) {
    if (size == nullptr) return 0;
    if (*size == 0) *size = kDefaultPageBytes;
    const ZkGlobalHandle memory = ZkGlobalAlloc(ZK_GHND, *size);
    if (memory == 0) *size = 0;
    return memory;
}

}  // namespace dspmon
