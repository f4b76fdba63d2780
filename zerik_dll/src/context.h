// DeviceContext: one record per opened scanner, shared by the application's
// calls and the five worker threads that serve the device.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "driver/driver.h"
#include "platform/platform.h"
#include "zerik_dll.h"

namespace zerik {

constexpr uint32_t kRxRingSize = 0x200000;  // receive area per data pipe
constexpr uint32_t kMsgSize = 64;

enum class PageState : int32_t { Idle, Receiving };

// The reply of the exchange in progress. The message receiver copies a reply
// here before it sets ReplyEvent, and only while an exchange waits, so a late
// reply of an earlier exchange or a report that follows the reply can never
// take its place.
struct ReplySlot {
    std::mutex mutex;
    bool armed = false;   // an exchange waits for its reply
    bool filled = false;  // the reply is here and not yet taken
    uint8_t bytes[kMsgSize] = {};
};

}  // namespace zerik

struct DeviceContext {
    LogFunc Log = nullptr;
    std::atomic<int32_t> Connected{0};
    std::atomic<int32_t> Ready{0};

    // Message receiver.
    std::atomic<int32_t> MsgRxStop{0};
    zerik::os::Event ReplyEvent;
    uint8_t MsgBuf[zerik::kMsgSize] = {};  // written by the message receiver only
    zerik::ReplySlot PendingReply;
    std::unique_ptr<zerik::os::NamedMutex> MsgMutex;
    std::unique_ptr<zerik::os::NamedMutex> PListMutex;

    // Data receivers, one per data pipe.
    std::atomic<int32_t> DataRxStop[2] = {};
    std::atomic<int32_t> DevMonStop{0};
    zerik::os::Event PageEvent;
    std::atomic<int32_t> PageProcStop{0};

    // Receive counters and the state of the page being received.
    std::atomic<uint32_t> RxBytes[2] = {};
    std::atomic<int32_t> RxPages{0};
    uint8_t PageNo[2] = {};
    uint16_t PageDpi[2] = {};
    uint16_t PageLayer[2] = {};
    uint32_t ScanStartTick = 0;
    std::unique_ptr<uint8_t[]> RxRing[2];

    // The page buffer being filled, per data pipe.
    uint8_t* PageHeader[2] = {};
    uint8_t* PageData[2] = {};
    ZkGlobalHandle PageHandle[2] = {};
    uint32_t PageAllocSize[2] = {};
    uint32_t PageBytes[2] = {};
    uint32_t PageDataLimit[2] = {};  // data is stored while PageBytes is below this

    // Application's page handler and allocator (set by the page hand-over).
    // The mutex only keeps each callback paired with its user value.
    std::mutex PageRegistrationMutex;
    PageHandlerFunc PageRcvHandler = nullptr;
    void* PageRcvUser = nullptr;
    PageAllocFunc PageAlloc = nullptr;
    void* PageAllocUser = nullptr;

    // Normalisation action: one state per DSP (0 idle, 1 started, 3 finished,
    // 4 failed), moved on by the device's events on the message thread.
    std::atomic<int32_t> NormState[2] = {};
    std::atomic<int32_t> NormLed{0};
    std::atomic<int32_t> NormLayer{0};

    std::atomic<int32_t> DevType{0};
    uint32_t RxRingPos[2] = {};
    std::deque<std::unique_ptr<PageRecord>> PageList;  // finished pages, guarded by PListMutex
    zerik::PageState PageStates[2] = {zerik::PageState::Idle, zerik::PageState::Idle};
    std::atomic<uint32_t> FlashId{0};  // flash chip identity: maker byte << 8 | device byte

    // The opened device path. Threads take a reference for each transfer, so
    // the monitor may drop a lost link while a receiver is still inside a read.
    zerik::driver::DeviceRef Driver() const;
    void SetDriver(zerik::driver::DeviceRef device);
    // Drops the link: pending and later transfers on it fail at once.
    void DropDriver();

    // The context is freed by whoever lets go of it last: the closing side
    // or a worker thread that acknowledged its stop late.
    std::atomic<int32_t> References{0};

private:
    mutable std::mutex driver_mutex_;
    zerik::driver::DeviceRef driver_;
};

namespace zerik {

// Drops one reference; the last one frees the context and all it holds.
void ReleaseContext(DeviceContext* dev);

// Worker thread bodies. Each ends by writing 0 into its stop flag, writing
// its exit line to the library log and releasing its reference.
void DevMonThread(void* arg);
void MsgRcvThread(void* arg);
void DataRxPipeThread(void* arg);
void PageProcThread(void* arg);

// Start record of a data receiver.
struct DataRxStart {
    DeviceContext* dev;
    int index;
};

}  // namespace zerik
