// Movable global memory blocks named by 32-bit handles, so that a handle fits
// the 32-bit fields of a page record on every platform.
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "platform/platform.h"
#include "zerik_dll.h"

namespace {

// Blocks from 1 MiB on (page buffers) are mapped from the system, aligned
// to 2 MiB and marked for huge pages: their memory is zero-filled by the
// system when first touched, so a page buffer costs about what its data
// fills (rounded up to 2 MiB), not a clearing of all its megabytes, and
// freeing returns it at once.
constexpr std::size_t kMappedBlockSize = 1u << 20;
constexpr std::size_t kHugePage = 2u << 20;

struct ReleaseBytes {
    uint8_t* map = nullptr;
    std::size_t mapped = 0;
    void operator()(uint8_t* bytes) const {
        if (mapped != 0) {
            munmap(map, mapped);
        } else {
            std::free(bytes);
        }
    }
};

struct Block {
    std::unique_ptr<uint8_t, ReleaseBytes> bytes;
    uint32_t size = 0;
    uint32_t locks = 0;
};

// Zero-filled memory of at least one byte; null when there is none.
std::unique_ptr<uint8_t, ReleaseBytes> ZeroedBytes(uint32_t size) {
    if (size >= kMappedBlockSize) {
        const std::size_t length = size + kHugePage;
        void* map =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) return nullptr;
        auto* base = static_cast<uint8_t*>(map);
        const auto addr = reinterpret_cast<uintptr_t>(base);
        uint8_t* aligned = base + ((kHugePage - addr % kHugePage) % kHugePage);
        madvise(aligned, size, MADV_HUGEPAGE);  // a hint; plain pages serve as well
        return std::unique_ptr<uint8_t, ReleaseBytes>(aligned, ReleaseBytes{base, length});
    }
    return std::unique_ptr<uint8_t, ReleaseBytes>(
        static_cast<uint8_t*>(std::calloc(size == 0 ? 1 : size, 1)), ReleaseBytes{});
}

struct Registry {
    std::mutex mutex;
    std::unordered_map<ZkGlobalHandle, Block> blocks;
    ZkGlobalHandle next = 0;
};

Registry& registry() {
    static Registry instance;  // lives until the process ends
    return instance;
}

}  // namespace

namespace zerik::os {

std::size_t GlobalBlockCount() {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return reg.blocks.size();
}

}  // namespace zerik::os

extern "C" {

ZERIK_API ZkGlobalHandle ZkGlobalAlloc(uint32_t /*flags*/, uint32_t bytes) {
    // Blocks are always zero-filled and never move, which serves both flags.
    Block block;
    block.bytes = ZeroedBytes(bytes);
    if (!block.bytes) return 0;
    block.size = bytes;
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    do {
        ++reg.next;
    } while (reg.next == 0 || reg.blocks.count(reg.next) != 0);
    reg.blocks.emplace(reg.next, std::move(block));
    return reg.next;
}

ZERIK_API void* ZkGlobalLock(ZkGlobalHandle handle) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.blocks.find(handle);
    if (it == reg.blocks.end()) return nullptr;
    ++it->second.locks;
    return it->second.bytes.get();
}

ZERIK_API int32_t ZkGlobalUnlock(ZkGlobalHandle handle) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.blocks.find(handle);
    if (it == reg.blocks.end() || it->second.locks == 0) return 0;
    --it->second.locks;
    return it->second.locks != 0 ? 1 : 0;
}

ZERIK_API ZkGlobalHandle ZkGlobalFree(ZkGlobalHandle handle) {
    Block doomed;
    {
        Registry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto it = reg.blocks.find(handle);
        if (it == reg.blocks.end()) return handle;
        doomed = std::move(it->second);
        reg.blocks.erase(it);
    }
    return 0;  // the block is released outside the lock
}

ZERIK_API uint32_t ZkGlobalSize(ZkGlobalHandle handle) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.blocks.find(handle);
    return it == reg.blocks.end() ? 0 : it->second.size;
}

}  // extern "C"
