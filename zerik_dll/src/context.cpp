// Opening and closing a device context, and the stop protocol of its worker
// threads.
#include "context.h"

#include <new>

#include "log.h"
#include "texts.h"
#include "transport.h"

namespace zerik {
namespace {

constexpr int kWorkerCount = 5;
constexpr int kReadyPolls = 40;  // pauses of 100 ms before the open gives up
constexpr int kClosePolls = 21;  // pauses of 100 ms the close waits for acknowledgements
constexpr uint32_t kPollPauseMs = 100;

bool AllStopped(const DeviceContext* dev) {
    return dev->MsgRxStop.load() == 0 && dev->DataRxStop[0].load() == 0 &&
           dev->DataRxStop[1].load() == 0 && dev->DevMonStop.load() == 0 &&
           dev->PageProcStop.load() == 0;
}

void RaiseStopFlags(DeviceContext* dev) {
    dev->MsgRxStop.store(1);
    dev->DataRxStop[0].store(1);
    dev->DataRxStop[1].store(1);
    dev->DevMonStop.store(1);
    dev->PageProcStop.store(1);
}

// Starts one worker with its stop flag cleared; the thread holds a reference.
bool StartWorker(DeviceContext* dev, std::atomic<int32_t>& stop, os::ThreadEntry entry, void* arg,
                 os::ThreadPriority priority) {
    stop.store(0);
    dev->References.fetch_add(1);
    if (os::StartThread(entry, arg, priority)) return true;
    dev->References.fetch_sub(1);
    return false;
}

// Frees the context once it has been allocated; used by the open's failure
// paths before any thread ran and as the deleter of the last reference.
void DestroyContext(DeviceContext* dev) {
    DiscardQueuedPages(dev);
    std::default_delete<DeviceContext>()(dev);
}

}  // namespace

void ReleaseContext(DeviceContext* dev) {
    if (dev->References.fetch_sub(1) == 1) DestroyContext(dev);
}

driver::DeviceRef DeviceContextDriver(const DeviceContext* dev) { return dev->Driver(); }

}  // namespace zerik

zerik::driver::DeviceRef DeviceContext::Driver() const {
    std::lock_guard<std::mutex> lock(driver_mutex_);
    return driver_;
}

void DeviceContext::SetDriver(zerik::driver::DeviceRef device) {
    zerik::driver::DeviceRef old;
    {
        std::lock_guard<std::mutex> lock(driver_mutex_);
        old = std::move(driver_);
        driver_ = std::move(device);
    }
    if (old) zerik::driver::ActiveBackend().shutdown(old.get());
}

void DeviceContext::DropDriver() { SetDriver(nullptr); }

using namespace zerik;

extern "C" {

ZERIK_API DeviceContext* Zerik_OpenDevice(LogFunc log) {
    LibraryLog(text::kOpenDevice);
    std::unique_ptr<DeviceContext> owned;
    try {
        owned = std::make_unique<DeviceContext>();
        owned->Log = log != nullptr ? log : LibraryLog;
        owned->RxRing[0] = std::make_unique<uint8_t[]>(kRxRingSize);
        owned->RxRing[1] = std::make_unique<uint8_t[]>(kRxRingSize);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    owned->MsgMutex = os::NamedMutex::Open("MsgMutex");
    owned->PListMutex = os::NamedMutex::Open("PListMutex");
    if (!owned->MsgMutex || !owned->PListMutex) return nullptr;

    DeviceContext* dev = owned.release();
    dev->References.store(1);  // the application's
    std::unique_ptr<DataRxStart> rx0;
    std::unique_ptr<DataRxStart> rx1;
    try {
        rx0 = std::make_unique<DataRxStart>(DataRxStart{dev, 0});
        rx1 = std::make_unique<DataRxStart>(DataRxStart{dev, 1});
    } catch (const std::bad_alloc&) {
        ReleaseContext(dev);
        return nullptr;
    }

    // Each data receiver owns its start record once it runs. Only the flags
    // of workers that did start are raised and waited for on failure.
    std::atomic<int32_t>* started[kWorkerCount] = {};
    int started_count = 0;
    auto start = [&](std::atomic<int32_t>& stop, os::ThreadEntry entry, void* arg,
                     os::ThreadPriority priority) {
        if (started_count != 0 && started[started_count - 1] == nullptr) return false;
        const bool ok = StartWorker(dev, stop, entry, arg, priority);
        started[started_count++] = ok ? &stop : nullptr;
        return ok;
    };
    bool all_started = start(dev->DevMonStop, DevMonThread, dev, os::ThreadPriority::Normal) &&
                       start(dev->MsgRxStop, MsgRcvThread, dev, os::ThreadPriority::Normal);
    if (all_started) {
        all_started = start(dev->DataRxStop[0], DataRxPipeThread, rx0.get(),
                            os::ThreadPriority::Highest);
        if (all_started) rx0.release();
    }
    if (all_started) {
        all_started = start(dev->DataRxStop[1], DataRxPipeThread, rx1.get(),
                            os::ThreadPriority::Highest);
        if (all_started) rx1.release();
    }
    if (all_started) {
        all_started = start(dev->PageProcStop, PageProcThread, dev, os::ThreadPriority::Normal);
    }

    if (all_started) {
        for (int pauses = 0; pauses <= kReadyPolls; ++pauses) {
            if (dev->Ready.load() == 1) return dev;
            os::SleepMs(kPollPauseMs);
        }
    }

    // The open failed: stop the workers and wait, without a limit, until
    // each has acknowledged.
    for (std::atomic<int32_t>* flag : started) {
        if (flag != nullptr) flag->store(1);
    }
    for (std::atomic<int32_t>* flag : started) {
        while (flag != nullptr && flag->load() != 0) os::SleepMs(kPollPauseMs);
    }
    ReleaseContext(dev);
    return nullptr;
}

ZERIK_API int32_t Zerik_CloseDevice(DeviceContext* dev) {
    LibraryLog(text::kCloseDevice);
    SendClosingKeepAlive(dev);
    if (dev == nullptr) return 0;
    RaiseStopFlags(dev);
    for (int poll = 0; poll < kClosePolls + 1 && !AllStopped(dev); ++poll) {
        os::SleepMs(kPollPauseMs);
    }
    // A thread that has not acknowledged yet still holds its reference; the
    // last of them frees the context.
    ReleaseContext(dev);
    return 0;
}

}  // extern "C"
