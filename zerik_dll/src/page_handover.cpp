// PageProcThread: hands finished pages to the application.
#include "context.h"
#include "log.h"
#include "texts.h"
#include "transport.h"

namespace zerik {

void PageProcThread(void* arg) {
    auto* dev = static_cast<DeviceContext*>(arg);
    while (dev->PageProcStop.load() == 0) os::SleepMs(100);
    dev->PageProcStop.store(0);
    LibraryLog(text::kPageProcExit);
    ReleaseContext(dev);
}

void DiscardQueuedPages(DeviceContext* dev) {
    for (PageRecord* record : dev->PageList) {
        ZkGlobalFree(record->Memory);
        std::default_delete<PageRecord>()(record);
    }
    dev->PageList.clear();
}

}  // namespace zerik
