// DataRxPipe threads: read the two data pipes.
#include <memory>

#include "context.h"
#include "log.h"
#include "texts.h"

namespace zerik {

void DataRxPipeThread(void* arg) {
    const std::unique_ptr<DataRxStart> start(static_cast<DataRxStart*>(arg));
    DeviceContext* dev = start->dev;
    const int idx = start->index;
    while (dev->DataRxStop[idx].load() == 0) os::SleepMs(100);
    dev->DataRxStop[idx].store(0);
    LibraryLog(text::kDataRxExit, idx);
    ReleaseContext(dev);
}

}  // namespace zerik
