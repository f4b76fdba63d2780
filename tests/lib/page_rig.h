// Test support for the page path: a DeviceContext set up as the open would
// set it up, without the device monitor, so that the page assembler, the
// data receivers and the page thread can be driven directly.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context.h"
#include "driver/driver.h"
#include "platform/platform.h"

namespace zerik::test {

// Lines written through a context's Log, kept for the test to read.
class CapturedLog {
  public:
    static CapturedLog& Instance() {
        static CapturedLog log;
        return log;
    }
    static int Sink(const char* format, ...) {
        char line[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        CapturedLog& log = Instance();
        std::lock_guard<std::mutex> lock(log.mutex_);
        log.text_ += line;
        return 0;
    }
    std::string Text() {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.clear();
    }

  private:
    std::mutex mutex_;
    std::string text_;
};

// Owns one context reference; started workers hold one each, as in the open.
class PageRig {
  public:
    explicit PageRig(LogFunc log = CapturedLog::Sink) {
        auto owned = std::make_unique<DeviceContext>();
        owned->Log = log;
        owned->RxRing[0] = std::make_unique<uint8_t[]>(kRxRingSize);
        owned->RxRing[1] = std::make_unique<uint8_t[]>(kRxRingSize);
        owned->MsgMutex = os::NamedMutex::Open("MsgMutex");
        owned->PListMutex = os::NamedMutex::Open("PListMutex");
        owned->References.store(1);
        dev_ = owned.release();
    }
    ~PageRig() {
        Stop();
        ReleaseContext(dev_);
    }
    PageRig(const PageRig&) = delete;
    PageRig& operator=(const PageRig&) = delete;

    DeviceContext* dev() const { return dev_; }

    // Links the context to device path `number` and marks it connected.
    bool Connect(int number) {
        driver::DeviceRef device = driver::OpenDevice(number);
        if (!device) return false;
        dev_->SetDriver(std::move(device));
        dev_->Connected.store(1);
        return true;
    }

    void StartDataReceivers() {
        for (int idx = 0; idx < 2; ++idx) {
            auto start = std::make_unique<DataRxStart>(DataRxStart{dev_, idx});
            if (StartWorker(dev_->DataRxStop[idx], DataRxPipeThread, start.get(),
                            os::ThreadPriority::Highest)) {
                start.release();  // the thread owns it
            }
        }
    }
    void StartPageThread() {
        StartWorker(dev_->PageProcStop, PageProcThread, dev_, os::ThreadPriority::Normal);
    }

    // Raises the stop flags of the started workers and waits until each has
    // acknowledged.
    void Stop() {
        for (std::atomic<int32_t>* flag : started_) flag->store(1);
        for (std::atomic<int32_t>* flag : started_) {
            while (flag->load() != 0) os::SleepMs(10);
        }
        started_.clear();
    }

  private:
    bool StartWorker(std::atomic<int32_t>& stop, os::ThreadEntry entry, void* arg,
                     os::ThreadPriority priority) {
        stop.store(0);
        dev_->References.fetch_add(1);
        if (!os::StartThread(entry, arg, priority)) {
            dev_->References.fetch_sub(1);
            return false;
        }
        started_.push_back(&stop);
        return true;
    }

    DeviceContext* dev_;
    std::vector<std::atomic<int32_t>*> started_;
};

}  // namespace zerik::test
