// Page-sized global memory blocks: zero-filled throughout, writable to the
// last byte, counted while they live, and released again.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/platform.h"
#include "zerik_dll.h"

namespace {

class PageMemory : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PageMemory, BlocksAreZeroFilledWritableAndReleased) {
    const uint32_t size = GetParam();
    const std::size_t before = zerik::os::GlobalBlockCount();
    const ZkGlobalHandle first = ZkGlobalAlloc(ZK_GHND, size);
    const ZkGlobalHandle second = ZkGlobalAlloc(ZK_GHND, size);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    EXPECT_EQ(zerik::os::GlobalBlockCount(), before + 2);
    EXPECT_EQ(ZkGlobalSize(first), size);

    auto* bytes = static_cast<uint8_t*>(ZkGlobalLock(first));
    ASSERT_NE(bytes, nullptr);
    for (uint32_t at : {0u, 1063u, size / 2, size - 1}) {
        EXPECT_EQ(bytes[at], 0) << at;
        bytes[at] = 0x5A;
    }
    ZkGlobalUnlock(first);
    ZkGlobalFree(first);

    // A block allocated after another was freed starts zero-filled again.
    const ZkGlobalHandle third = ZkGlobalAlloc(ZK_GHND, size);
    auto* again = static_cast<const uint8_t*>(ZkGlobalLock(third));
    ASSERT_NE(again, nullptr);
    for (uint32_t at : {0u, 1063u, size / 2, size - 1}) EXPECT_EQ(again[at], 0) << at;
    ZkGlobalUnlock(third);
    EXPECT_EQ(ZkGlobalFree(third), 0u);
    EXPECT_EQ(ZkGlobalFree(second), 0u);
    EXPECT_EQ(zerik::os::GlobalBlockCount(), before);
}

// Below and above the size from which blocks are mapped on their own; a
// one-layer and a two-layer page buffer.
INSTANTIATE_TEST_SUITE_P(Sizes, PageMemory,
                         ::testing::Values(1064u + 100u, (1u << 20) - 1, 1u << 20, 8388608u + 1064u,
                                           2u * 8388608u + 1064u));

}  // namespace
