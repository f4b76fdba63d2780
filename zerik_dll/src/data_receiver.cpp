// DataRxPipe threads: read the two data pipes and assemble their pages.
#include "data_receiver.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "log.h"
#include "texts.h"
#include "transport.h"

namespace zerik {
namespace {

constexpr uint32_t kIdlePauseMs = 100;
constexpr uint32_t kFailurePauseMs = 500;
constexpr uint32_t kQuickFailureMs = 2;
constexpr uint32_t kMarkerWords = kMarkerSize / 2;
constexpr uint32_t kScanBlockWords = 32;  // words tested together for a marker start
constexpr uint32_t kHeightTrimLines = 3;  // trailing lines that are not part of the image

uint16_t GetLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | static_cast<uint16_t>(p[1]) << 8);
}

void PutLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool IsMarkerAt(const uint8_t* word) {
    for (uint32_t i = 0; i < 4; ++i) {
        if (GetLe16(word + 2 * i) != kMarkerMagic[i]) return false;
    }
    return true;
}

// Eight 16-bit words as one vector value; the comparisons below are
// compiled to the processor's vector instructions where it has them.
using WordLanes = uint16_t __attribute__((vector_size(16)));
constexpr uint32_t kLaneBytes = sizeof(WordLanes);

WordLanes LoadLanes(const uint8_t* p) {
    WordLanes lanes;
    std::memcpy(&lanes, p, sizeof lanes);
    return lanes;
}

// Eight copies of the first magic word as they lie in memory.
WordLanes FirstMagicLanes() {
    uint8_t bytes[kLaneBytes];
    for (uint32_t i = 0; i < kLaneBytes; i += 2) {
        bytes[i] = 0x34;
        bytes[i + 1] = 0x12;
    }
    return LoadLanes(bytes);
}

// Position of the first marker that starts at a word in [from, to), or `to`.
// The words [to, to + 8] must lie inside the chunk. Blocks of 32 words that
// hold no first magic word are passed over with four vector comparisons.
uint32_t FindMarker(const uint8_t* bytes, uint32_t from, uint32_t to) {
    static const WordLanes pattern = FirstMagicLanes();
    uint32_t p = from;
    while (p < to) {
        if (to - p >= kScanBlockWords) {
            const uint8_t* block = bytes + 2 * p;
            const WordLanes hits = (LoadLanes(block) == pattern) |
                                   (LoadLanes(block + kLaneBytes) == pattern) |
                                   (LoadLanes(block + 2 * kLaneBytes) == pattern) |
                                   (LoadLanes(block + 3 * kLaneBytes) == pattern);
            uint64_t halves[2];
            std::memcpy(halves, &hits, sizeof halves);
            if ((halves[0] | halves[1]) == 0) {
                p += kScanBlockWords;
                continue;
            }
        }
        const uint32_t block_end = std::min(p + kScanBlockWords, to);
        for (; p < block_end; ++p) {
            if (IsMarkerAt(bytes + 2 * p)) return p;
        }
    }
    return to;
}

// Stores `words` data words of the pipe's open page, as far as the buffer
// takes them; without an open page they are dropped.
void StoreWords(DeviceContext* dev, int idx, const uint8_t* src, uint32_t words) {
    if (dev->PageStates[idx] != PageState::Receiving || words == 0) return;
    const uint32_t stored = dev->PageBytes[idx];
    const uint32_t limit = dev->PageDataLimit[idx];
    if (stored >= limit) return;
    const uint32_t room = (limit - stored + 1) / 2;
    const uint32_t count = std::min(words, room);
    std::memcpy(dev->PageData[idx] + stored, src, static_cast<std::size_t>(count) * 2);
    dev->PageBytes[idx] = stored + count * 2;
}

void WriteBitmapHeader(uint8_t* header, uint32_t width) {
    PutLe32(header + 0, kBitmapInfoSize);
    PutLe32(header + 4, width);
    PutLe32(header + 8, 0);   // height, set when the page ends
    PutLe16(header + 12, 1);  // planes
    PutLe16(header + 14, 8);  // bits per pixel
    PutLe32(header + 16, 0);  // no compression
    PutLe32(header + 20, 0);  // image size, set when the page ends
    PutLe32(header + 24, 0);
    PutLe32(header + 28, 0);
    PutLe32(header + 32, 256);  // colours used
    PutLe32(header + 36, 0);
    uint8_t* table = header + kBitmapInfoSize;
    for (uint32_t i = 0; i < 256; ++i) {
        const auto grey = static_cast<uint8_t>(i);
        table[4 * i + 0] = grey;
        table[4 * i + 1] = grey;
        table[4 * i + 2] = grey;
        table[4 * i + 3] = 0;
    }
}

// Gets the page buffer from the application's allocator or the library's own
// global memory. The buffer is used only if it holds at least the header;
// writes stay inside both the size the allocation reported and the block.
void OpenPage(DeviceContext* dev, int idx, const uint8_t* marker) {
    dev->PageStates[idx] = PageState::Receiving;
    dev->PageLayer[idx] = marker[11];
    dev->PageNo[idx] = marker[10];
    dev->PageDpi[idx] = GetLe16(marker + 12);
    dev->Log(text::kPageStart, idx, static_cast<unsigned>(GetLe16(marker + 8)),
             static_cast<int>(dev->PageNo[idx]), static_cast<int>(dev->PageDpi[idx]),
             static_cast<int>(dev->PageLayer[idx]));

    dev->PageAllocSize[idx] = dev->PageLayer[idx] * kLayerCapacity + kPageHeaderSize;
    PageAllocFunc alloc;
    void* alloc_user;
    {
        std::lock_guard<std::mutex> lock(dev->PageRegistrationMutex);
        alloc = dev->PageAlloc;
        alloc_user = dev->PageAllocUser;
    }
    const ZkGlobalHandle handle = alloc != nullptr
                                      ? alloc(&dev->PageAllocSize[idx], alloc_user)
                                      : ZkGlobalAlloc(ZK_GHND, dev->PageAllocSize[idx]);
    const uint32_t usable = std::min(dev->PageAllocSize[idx], ZkGlobalSize(handle));
    auto* header =
        usable >= kPageHeaderSize ? static_cast<uint8_t*>(ZkGlobalLock(handle)) : nullptr;
    if (header == nullptr) {
        // No memory for this page: it is passed over until the next start.
        if (handle != 0) ZkGlobalFree(handle);
        dev->PageStates[idx] = PageState::Idle;
        return;
    }
    dev->PageHandle[idx] = handle;
    dev->PageHeader[idx] = header;
    dev->PageData[idx] = header + kPageHeaderSize;
    dev->PageDataLimit[idx] = usable >= kPageHeaderSize + 2 ? usable - kPageHeaderSize - 2 : 0;
    WriteBitmapHeader(header, PageWidth(dev->PageDpi[idx]));
    dev->PageBytes[idx] = 0;
}

void ClosePage(DeviceContext* dev, int idx, const uint8_t* marker) {
    const unsigned type = GetLe16(marker + 8);
    const int page_no = marker[10];
    const int dpi = GetLe16(marker + 12);
    dev->Log(page_no == dev->PageNo[idx] ? text::kPageEnd : text::kPageEndMismatch, idx, type,
             page_no, dpi);
    dev->PageStates[idx] = PageState::Idle;

    uint8_t* header = dev->PageHeader[idx];
    const uint32_t width = PageWidth(dev->PageDpi[idx]);
    uint32_t height = dev->PageBytes[idx] / width;
    if (height > kHeightTrimLines) height -= kHeightTrimLines;
    PutLe32(header + 8, height);
    PutLe32(header + 20, height * width);

    const ZkGlobalHandle handle = dev->PageHandle[idx];
    dev->PageHeader[idx] = nullptr;
    dev->PageData[idx] = nullptr;
    dev->PageHandle[idx] = 0;
    ZkGlobalUnlock(handle);
    std::unique_ptr<PageRecord> record;
    try {
        record = std::make_unique<PageRecord>();
    } catch (const std::bad_alloc&) {
        ZkGlobalFree(handle);
        return;
    }
    record->Idx = static_cast<uint32_t>(idx);
    record->PageNo = dev->PageNo[idx];
    record->Dpi = dev->PageDpi[idx];
    record->Layer = dev->PageLayer[idx];
    record->Status = 1;
    record->AllocSize = dev->PageAllocSize[idx];
    record->Memory = handle;

    os::NamedMutexLock lock(dev->PListMutex.get(), os::kInfinite);
    if (!lock.owns()) {
        ZkGlobalFree(handle);
        return;
    }
    dev->Log(text::kPageQueued, static_cast<int>(record->PageNo),
             static_cast<wint_t>(idx == 0 ? L'A' : L'B'));
    try {
        dev->PageList.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        ZkGlobalFree(handle);
        return;
    }
    dev->PageEvent.Set();
}

// Acts on the marker at `marker`; returns the words to advance by.
uint32_t ActOnMarker(DeviceContext* dev, int idx, const uint8_t* marker) {
    const uint16_t type = GetLe16(marker + 8);
    const uint8_t page_no = marker[10];
    if (dev->PageStates[idx] == PageState::Idle) {
        if (type == kMarkerPageStart) {
            OpenPage(dev, idx, marker);
            return kMarkerWords;
        }
        if (type == kMarkerPageEnd && dev->PageNo[idx] != 0 && page_no != dev->PageNo[idx]) {
            dev->Log(text::kPageEndWhileIdle, idx, static_cast<unsigned>(type),
                     static_cast<int>(dev->PageNo[idx]), static_cast<int>(dev->PageDpi[idx]));
        }
        return 1;
    }
    if (type == kMarkerPageEnd) {
        ClosePage(dev, idx, marker);
        return 1;
    }
    if (type == kMarkerPageStart && page_no != dev->PageNo[idx]) {
        // The stray start is logged and skipped whole: its bytes are not
        // image data of the open page.
        dev->Log(text::kPageStartWhileOpen, idx, static_cast<unsigned>(type),
                 static_cast<int>(page_no), static_cast<int>(GetLe16(marker + 12)));
    }
    return kMarkerWords;
}

}  // namespace

uint32_t PageWidth(uint32_t dpi) {
    switch (dpi) {
        case 50:
            return 432;
        case 100:
            return 864;
        case 133:
            return 1152;
        case 150:
            return 1296;
        default:
            return 1728;
    }
}

void AssembleChunk(DeviceContext* dev, int idx, const uint8_t* bytes, uint32_t count) {
    const uint32_t words = count / 2;
    uint32_t p = 0;
    if (words > kMarkerWords) {
        // A marker may start only where at least one more word follows it.
        const uint32_t walk_end = words - kMarkerWords;
        while (p < walk_end) {
            const uint32_t marker = FindMarker(bytes, p, walk_end);
            StoreWords(dev, idx, bytes + 2 * p, marker - p);
            p = marker;
            if (p == walk_end) break;
            p += ActOnMarker(dev, idx, bytes + 2 * p);
        }
    }
    StoreWords(dev, idx, bytes + 2 * p, words - p);
}

void AbandonOpenPage(DeviceContext* dev, int idx) {
    if (dev->PageStates[idx] != PageState::Receiving) return;
    dev->PageStates[idx] = PageState::Idle;
    const ZkGlobalHandle handle = dev->PageHandle[idx];
    dev->PageHeader[idx] = nullptr;
    dev->PageData[idx] = nullptr;
    dev->PageHandle[idx] = 0;
    ZkGlobalUnlock(handle);
    ZkGlobalFree(handle);
}

void DataRxPipeThread(void* arg) {
    const std::unique_ptr<DataRxStart> start(static_cast<DataRxStart*>(arg));
    DeviceContext* dev = start->dev;
    const int idx = start->index;
    dev->Log(text::kDataRxStart, idx, os::ProcessPriorityClass());
    uint32_t last_failure = 0;
    while (dev->DataRxStop[idx].load() == 0) {
        if (dev->Connected.load() == 0) {
            os::SleepMs(kIdlePauseMs);
            continue;
        }
        // Each read stays inside the receive area: it starts over at the
        // beginning when less than a whole chunk is left.
        uint32_t& pos = dev->RxRingPos[idx];
        if (kRxRingSize - pos < kDataChunkSize) pos = 0;
        uint8_t* area = dev->RxRing[idx].get() + pos;
        uint32_t received = kDataChunkSize;
        bool ok;
        {
            const driver::DeviceRef drv = dev->Driver();
            ok = PipeRead(drv.get(), static_cast<uint32_t>(idx) + 2, area, &received,
                          kDataTimeoutMs);
        }
        if (ok) {
            AssembleChunk(dev, idx, area, received);
            dev->RxBytes[idx].fetch_add(received);
            pos = (pos + received) % kRxRingSize;
            continue;
        }
        const uint32_t now = os::TickCount();
        const uint32_t since = now - last_failure;
        if (std::min(since, last_failure - now) < kQuickFailureMs) os::SleepMs(kFailurePauseMs);
        last_failure = os::TickCount();
    }
    dev->DataRxStop[idx].store(0);
    LibraryLog(text::kDataRxExit, idx);
    ReleaseContext(dev);
}

}  // namespace zerik
