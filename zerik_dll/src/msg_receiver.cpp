// MsgRcvThread: reads the message pipe, logs the device's reports and hands
// replies to the command that waits for one.
#include <algorithm>
#include <cstring>

#include "context.h"
#include "log.h"
#include "machine_controls.h"
#include "texts.h"
#include "transport.h"

namespace zerik {
namespace {

constexpr uint32_t kIdlePauseMs = 100;
constexpr uint32_t kFailurePauseMs = 500;
constexpr uint32_t kQuickFailureMs = 2;  // failures closer than this earn a pause

constexpr uint8_t kTimerReport = 0x80;
constexpr uint8_t kStatusReport = 0xF1;
constexpr uint8_t kFaultReport = 0xF2;
constexpr uint8_t kScanEvent = 0xF3;

constexpr uint8_t kEventScanStarted = 1;
constexpr uint8_t kEventScanEnded = 2;
constexpr uint8_t kEventThicknessCheckDone = 10;

// The eight little-endian words of a report, bytes 3 to 18 of the buffer
// whatever the count received.
struct ReportWords {
    unsigned w[8];
};

ReportWords WordsOf(const uint8_t* msg) {
    ReportWords words{};
    for (int i = 0; i < 8; ++i) {
        words.w[i] = static_cast<unsigned>(msg[3 + 2 * i]) | static_cast<unsigned>(msg[4 + 2 * i])
                                                                 << 8;
    }
    return words;
}

void TraceFault(unsigned code) {
    switch (code) {
        case 1:
            Trace(text::kFaultPickTimeout);
            break;
        case 2:
            Trace(text::kFaultSheetTooLong);
            break;
        case 3:
            Trace(text::kFaultTrayPosition);
            break;
        case 4:
            Trace(text::kFaultThickness);
            break;
        case 6:
            Trace(text::kFaultSortTimeout);
            break;
        default:
            Trace(text::kFaultUnknown, code);
            break;
    }
}

void HandleScanEvent(DeviceContext* dev, const ReportWords& words) {
    const auto& w = words.w;
    dev->Log(text::kEventReport, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    const uint8_t event = static_cast<uint8_t>(w[0] & 0xFF);
    const int page = static_cast<int>(w[0] >> 8);
    switch (event) {
        case kEventScanStarted:
            dev->ScanStartTick = os::TickCount();
            dev->Log(text::kScanStarted, page);
            break;
        case kEventScanEnded: {
            const uint32_t elapsed = os::TickCount() - dev->ScanStartTick;
            dev->Log(text::kScanEnded, page, static_cast<int>(elapsed));
            dev->RxPages.fetch_add(1);
            break;
        }
        case kEventThicknessCheckDone:
            dev->Log(text::kThicknessCheckDone);
            break;
        default:
            // The end of a DSP's normalisation action, if it is one.
            NoteNormEvent(dev, static_cast<uint16_t>(w[0]));
            break;
    }
}

// A reply counts only while an exchange waits and has not got one yet: it
// is copied before the event is set, so the next message cannot spoil it.
void DeliverReply(DeviceContext* dev) {
    ReplySlot& slot = dev->PendingReply;
    std::lock_guard<std::mutex> lock(slot.mutex);
    if (!slot.armed || slot.filled) return;
    std::memcpy(slot.bytes, dev->MsgBuf, kMsgSize);
    slot.filled = true;
    dev->ReplyEvent.Set();
}

void HandleMessage(DeviceContext* dev) {
    const ReportWords words = WordsOf(dev->MsgBuf);
    const auto& w = words.w;
    switch (dev->MsgBuf[0]) {
        case kTimerReport:
            dev->Log(text::kTimerReport, w[0]);
            break;
        case kStatusReport:
            dev->Log(text::kStatusReport, w[0], w[1], w[2], w[3], w[4], w[5]);
            break;
        case kFaultReport:
            TraceFault(w[0] & 0xFF);
            dev->Log(text::kFaultReport, w[0], w[1], w[2], w[3], w[4], w[5]);
            break;
        case kScanEvent:
            HandleScanEvent(dev, words);
            break;
        default:
            DeliverReply(dev);
            break;
    }
}

}  // namespace

void MsgRcvThread(void* arg) {
    auto* dev = static_cast<DeviceContext*>(arg);
    dev->Log(text::kMsgRxStart);
    uint32_t last_failure = 0;
    while (dev->MsgRxStop.load() == 0) {
        // The link is taken before Connected is looked at, so a read never
        // lands on a new link whose pipe test is still running.
        const driver::DeviceRef link = dev->Driver();
        if (dev->Connected.load() == 0) {
            os::SleepMs(kIdlePauseMs);
            continue;
        }
        uint32_t length = kMsgSize;
        if (!PipeRead(link.get(), kMessagePipe, dev->MsgBuf, &length, kPipeTimeoutMs)) {
            const uint32_t now = os::TickCount();
            if (std::min(now - last_failure, last_failure - now) < kQuickFailureMs) {
                os::SleepMs(kFailurePauseMs);
            }
            last_failure = os::TickCount();
            continue;
        }
        if (length == 0) continue;
        HandleMessage(dev);
    }
    dev->MsgRxStop.store(0);
    LibraryLog(text::kMsgRxExit);
    ReleaseContext(dev);
}

}  // namespace zerik
