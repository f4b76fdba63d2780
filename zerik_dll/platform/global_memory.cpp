// Movable global memory blocks named by 32-bit handles, so that a handle fits
// the 32-bit fields of a page record on every platform.
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "platform/platform.h"
#include "zerik_dll.h"

namespace {

struct FreeBytes {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
};

struct Block {
    // calloc: a large block is fresh zero pages from the system, so a page
    // buffer costs only the memory its data fills.
    std::unique_ptr<uint8_t, FreeBytes> bytes;
    uint32_t size = 0;
    uint32_t locks = 0;
};

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
    block.bytes.reset(static_cast<uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1)));
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
