// PageProcThread: hands finished pages to the application, and the exports
// that register the page callbacks and report the receive counters.
#include <memory>

#include "command.h"
#include "context.h"
#include "data_receiver.h"
#include "log.h"
#include "texts.h"
#include "transport.h"

namespace zerik {
namespace {

constexpr uint32_t kPageWaitMs = 500;

// The oldest queued page, or null when none is queued.
std::unique_ptr<PageRecord> TakeOldestPage(DeviceContext* dev) {
    os::NamedMutexLock lock(dev->PListMutex.get(), os::kInfinite);
    if (!lock.owns() || dev->PageList.empty()) return nullptr;
    std::unique_ptr<PageRecord> record = std::move(dev->PageList.front());
    dev->PageList.pop_front();
    return record;
}

// Pages go to the application only while its allocator is registered: the
// memory then is the application's. Otherwise the library frees it, and so
// it does for a page that no handler would ever see.
void HandOver(DeviceContext* dev, PageRecord* record) {
    PageHandlerFunc handler;
    void* handler_user;
    bool allocator;
    {
        std::lock_guard<std::mutex> lock(dev->PageRegistrationMutex);
        handler = dev->PageRcvHandler;
        handler_user = dev->PageRcvUser;
        allocator = dev->PageAlloc != nullptr;
    }
    if (!allocator || handler == nullptr) {
        ZkGlobalFree(record->Memory);
        return;
    }
    dev->Log(text::kCallPageHandler);
    handler(record, handler_user);
    dev->Log(text::kPageHandlerDone);
}

}  // namespace

void PageProcThread(void* arg) {
    auto* dev = static_cast<DeviceContext*>(arg);
    dev->Log(text::kPageProcStart);
    while (dev->PageProcStop.load() == 0) {
        if (!dev->PageEvent.Wait(kPageWaitMs)) continue;
        dev->PageEvent.Reset();
        while (std::unique_ptr<PageRecord> record = TakeOldestPage(dev)) {
            HandOver(dev, record.get());
        }
    }
    dev->PageProcStop.store(0);
    LibraryLog(text::kPageProcExit);
    ReleaseContext(dev);
}

void DiscardQueuedPages(DeviceContext* dev) {
    AbandonOpenPage(dev, 0);
    AbandonOpenPage(dev, 1);
    for (const std::unique_ptr<PageRecord>& record : dev->PageList) ZkGlobalFree(record->Memory);
    dev->PageList.clear();
}

}  // namespace zerik

using namespace zerik;

extern "C" {

ZERIK_API int32_t Zerik_SetPageRcvHandler(DeviceContext* dev, PageHandlerFunc handler,
                                          void* handler_user, PageAllocFunc alloc,
                                          void* alloc_user) {
    if (dev == nullptr) return kBadArgument;
    std::lock_guard<std::mutex> lock(dev->PageRegistrationMutex);
    dev->PageRcvHandler = handler;
    dev->PageRcvUser = handler_user;
    dev->PageAlloc = alloc;
    dev->PageAllocUser = alloc_user;
    return kOk;
}

ZERIK_API int32_t Zerik_GetRxPages(DeviceContext* dev, int32_t* pages) {
    if (dev == nullptr || pages == nullptr) return kBadArgument;
    *pages = dev->RxPages.load();
    return kOk;
}

ZERIK_API int32_t Zerik_GetPipesRxBytes(DeviceContext* dev, int32_t* pipe0_bytes,
                                        int32_t* pipe1_bytes) {
    if (dev == nullptr || pipe0_bytes == nullptr || pipe1_bytes == nullptr) return kBadArgument;
    *pipe0_bytes = static_cast<int32_t>(dev->RxBytes[0].load());
    *pipe1_bytes = static_cast<int32_t>(dev->RxBytes[1].load());
    return kOk;
}

}  // extern "C"
