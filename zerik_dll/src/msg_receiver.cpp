// MsgRcvThread: reads the message pipe.
#include "context.h"
#include "log.h"
#include "texts.h"

namespace zerik {

void MsgRcvThread(void* arg) {
    auto* dev = static_cast<DeviceContext*>(arg);
    while (dev->MsgRxStop.load() == 0) os::SleepMs(100);
    dev->MsgRxStop.store(0);
    LibraryLog(text::kMsgRxExit);
    ReleaseContext(dev);
}

}  // namespace zerik
