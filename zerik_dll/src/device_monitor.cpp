// DevMonThread: owns the link to the scanner.
#include "context.h"
#include "log.h"
#include "texts.h"
#include "transport.h"

namespace zerik {
namespace {
constexpr uint32_t kMonitorPauseMs = 500;
}

void DevMonThread(void* arg) {
    auto* dev = static_cast<DeviceContext*>(arg);
    while (dev->DevMonStop.load() == 0) {
        if (dev->Connected.load() == 0 && OpenDriverPipes(dev)) dev->Connected.store(1);
        os::SleepMs(kMonitorPauseMs);
    }
    dev->DevMonStop.store(0);
    LibraryLog(text::kDevMonExit);
    ReleaseContext(dev);
}

void SendClosingKeepAlive(DeviceContext* /*dev*/) {}

}  // namespace zerik
