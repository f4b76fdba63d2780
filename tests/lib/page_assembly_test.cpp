// The page assembler driven directly, chunk by chunk, on a context of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data_receiver.h"
#include "page_rig.h"
#include "page_stream.h"
#include "sim_fixture.h"

namespace zerik::test {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

Bytes Marker(uint16_t type, uint8_t page_no, uint8_t layer = 1, uint16_t dpi = 200) {
    const auto marker = sim::PageMarkerBytes(type, page_no, layer, dpi);
    return Bytes(marker.begin(), marker.end());
}

Bytes Data(uint32_t count, uint8_t page_no = 1) {
    Bytes data(count);
    for (uint32_t i = 0; i < count; ++i) data[i] = sim::PageDataByte(page_no, i);
    return data;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kWord{0, 0};

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
    return param.param.name;
}

// The application's allocator: global memory of the requested size, or of a
// size it sets itself; 0 to refuse.
struct TestAllocator {
    int calls = 0;
    uint32_t last_request = 0;
    uint32_t set_size = 0;    // when non-zero, the size the allocator reports back
    uint32_t block_size = 0;  // when non-zero, the size it really allocates
    bool refuse = false;

    static ZkGlobalHandle Allocate(uint32_t* size, void* user) {
        auto* self = static_cast<TestAllocator*>(user);
        ++self->calls;
        self->last_request = *size;
        if (self->refuse) return 0;
        if (self->set_size != 0) *size = self->set_size;
        return ZkGlobalAlloc(ZK_GHND, self->block_size != 0 ? self->block_size : *size);
    }
};

class PageAssembly : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        CapturedLog::Instance().Clear();
        baseline_blocks_ = os::GlobalBlockCount();
        rig_ = std::make_unique<PageRig>();
        Zerik_SetPageRcvHandler(dev(), nullptr, nullptr, TestAllocator::Allocate, &allocator_);
    }
    void TearDown() override {
        rig_.reset();
        // Queued and half-received pages go with the context.
        EXPECT_EQ(os::GlobalBlockCount(), baseline_blocks_);
        SimFixture::TearDown();
    }

    DeviceContext* dev() const { return rig_->dev(); }

    void Feed(int idx, const Bytes& chunk) {
        AssembleChunk(dev(), idx, chunk.data(), static_cast<uint32_t>(chunk.size()));
    }
    void FeedTransfers(const sim::PageSpec& plan) {
        for (const Bytes& transfer : sim::PageTransfers(plan)) Feed(plan.pipe, transfer);
    }

    // Takes the queued records, oldest first.
    std::vector<PageRecord> TakeRecords() {
        std::vector<PageRecord> records;
        for (const auto& record : dev()->PageList) records.push_back(*record);
        dev()->PageList.clear();
        return records;
    }

    // Header and data of a finished page; frees the page memory.
    struct Page {
        std::vector<uint8_t> header;
        std::vector<uint8_t> data;  // image-size bytes
        uint32_t block_size = 0;
    };
    static Page Consume(const PageRecord& record) {
        Page page;
        page.block_size = ZkGlobalSize(record.Memory);
        const auto* base = static_cast<const uint8_t*>(ZkGlobalLock(record.Memory));
        if (base != nullptr) {
            page.header.assign(base, base + kPageHeaderSize);
            page.data.assign(base + kPageHeaderSize, base + kPageHeaderSize + Le32(base + 20));
            ZkGlobalUnlock(record.Memory);
        }
        ZkGlobalFree(record.Memory);
        return page;
    }

    std::string LogText() const { return CapturedLog::Instance().Text(); }

    TestAllocator allocator_;
    std::unique_ptr<PageRig> rig_;
    std::size_t baseline_blocks_ = 0;
};

TEST_F(PageAssembly, OneChunkGivesOnePageWithHeaderRecordAndLog) {
    const Bytes data = Data(17280);
    Feed(0, Join({Marker(1, 1, 1, 200), data, Marker(2, 1, 1, 200), kWord}));

    EXPECT_EQ(allocator_.calls, 1);
    EXPECT_EQ(allocator_.last_request, 8388608u + 1064u);
    EXPECT_TRUE(dev()->PageEvent.Wait(0));
    EXPECT_EQ(dev()->PageStates[0], PageState::Idle);
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    const PageRecord& r = records[0];
    EXPECT_EQ(r.Idx, 0u);
    EXPECT_EQ(r.PageNo, 1u);
    EXPECT_EQ(r.Dpi, 200u);
    EXPECT_EQ(r.Layer, 1u);
    EXPECT_EQ(r.Status, 1u);
    EXPECT_EQ(r.Reserved9, 0u);
    EXPECT_EQ(r.Reserved11, 0u);
    EXPECT_EQ(r.Reserved15, 0u);
    EXPECT_EQ(r.AllocSize, 8388608u + 1064u);
    ASSERT_NE(r.Memory, 0u);

    const Page page = Consume(r);
    EXPECT_EQ(page.block_size, 8388608u + 1064u);
    ASSERT_EQ(page.header.size(), kPageHeaderSize);
    const uint8_t* h = page.header.data();
    EXPECT_EQ(Le32(h + 0), 40u);
    EXPECT_EQ(Le32(h + 4), 1728u);
    EXPECT_EQ(Le32(h + 8), 7u);
    EXPECT_EQ(Le16(h + 12), 1u);
    EXPECT_EQ(Le16(h + 14), 8u);
    EXPECT_EQ(Le32(h + 16), 0u);
    EXPECT_EQ(Le32(h + 20), 12096u);
    EXPECT_EQ(Le32(h + 24), 0u);
    EXPECT_EQ(Le32(h + 28), 0u);
    EXPECT_EQ(Le32(h + 32), 256u);
    EXPECT_EQ(Le32(h + 36), 0u);
    for (uint32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(Le32(h + 40 + 4 * i), i | i << 8 | i << 16) << "colour " << i;
    }
    EXPECT_EQ(page.data, Bytes(data.begin(), data.begin() + 12096));

    const std::string log = LogText();
    EXPECT_NE(log.find(Gbk("页开始 idx=0 type=0x1 pageno=1 dpi=200 layer=1\n")), std::string::npos)
        << log;
    EXPECT_NE(log.find(Gbk("页结束 idx=0 type=0x2 pageno=1 dpi=200\n")), std::string::npos);
    EXPECT_NE(log.find(Gbk("插入页 PageNo=1A \n")), std::string::npos);
}

TEST_F(PageAssembly, LibraryLogShowsTheInsertedPage) {
    PageRig rig(LibraryLog);  // what a context opened without a log function uses
    const Bytes chunk = Join({Marker(1, 1, 1, 200), Data(17280), Marker(2, 1, 1, 200), kWord});
    AssembleChunk(rig.dev(), 0, chunk.data(), static_cast<uint32_t>(chunk.size()));
    ReopenLogFile();
    const std::string log = Log();
    EXPECT_NE(log.find(Gbk("]: 插入页 PageNo=1A \n")), std::string::npos) << log;
    EXPECT_NE(log.find(Gbk("]: 页开始 idx=0 type=0x1 pageno=1 dpi=200 layer=1\n")),
              std::string::npos);
    // The queued page goes with the context; TearDown checks that.
}

TEST_F(PageAssembly, PipeOnePagesAreLabelledB) {
    Feed(1, Join({Marker(1, 9), Data(100), Marker(2, 9), kWord}));
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Idx, 1u);
    Consume(records[0]);
    EXPECT_NE(LogText().find(Gbk("插入页 PageNo=9B \n")), std::string::npos);
}

// Where the transfers cut the stream decides which markers count.
struct CutCase {
    const char* name;
    std::vector<uint32_t> transfers;
    uint32_t trailer;
    int pages;        // pages queued
    bool open;        // a page still open afterwards
    uint32_t stored;  // data bytes stored for the last page
};

class MarkerCuts : public PageAssembly, public ::testing::WithParamInterface<CutCase> {};

TEST_P(MarkerCuts, OnlyWholeMarkersFollowedByAWordCount) {
    const CutCase& c = GetParam();
    sim::PageSpec plan;
    plan.data_bytes = 1000;
    plan.transfers = c.transfers;
    plan.trailer_bytes = c.trailer;
    FeedTransfers(plan);
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(static_cast<int>(records.size()), c.pages);
    EXPECT_EQ(dev()->PageStates[0] == PageState::Receiving, c.open);
    EXPECT_EQ(dev()->PageBytes[0], c.stored);
    for (const PageRecord& r : records) Consume(r);
}

// Stream: start marker (16), 1000 data bytes, end marker (16), trailer.
INSTANTIATE_TEST_SUITE_P(
    Cuts, MarkerCuts,
    ::testing::Values(CutCase{"AllInOne", {}, 2, 1, false, 1000},
                      CutCase{"StartMarkerStraddles", {8, 32768}, 2, 0, false, 0},
                      CutCase{"StartMarkerEndsChunk", {16, 32768}, 2, 0, false, 0},
                      CutCase{"StartMarkerThenOneWord", {18, 32768}, 2, 1, false, 1000},
                      // The end marker's halves are data: 1000 + 8 + 8 + 2 bytes.
                      CutCase{"EndMarkerStraddles", {1024, 32768}, 2, 0, true, 1018},
                      CutCase{"EndMarkerEndsChunk", {1032, 32768}, 2, 0, true, 1018},
                      CutCase{"NoWordAfterEndMarker", {}, 0, 0, true, 1016},
                      CutCase{"TinyTransfers", {6}, 2, 0, false, 0}),
    CaseName<CutCase>);

TEST_F(PageAssembly, ChunkOfEightWordsOrFewerIsDataOnly) {
    Feed(0, Join({Marker(1, 1), Data(2)}));
    ASSERT_EQ(dev()->PageStates[0], PageState::Receiving);
    Feed(0, Marker(2, 1));  // exactly eight words
    EXPECT_EQ(dev()->PageStates[0], PageState::Receiving);
    EXPECT_EQ(dev()->PageBytes[0], 2u + 16u);
    Feed(0, Join({Marker(2, 1), kWord}));
    EXPECT_EQ(dev()->PageStates[0], PageState::Idle);
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    Consume(records[0]);
}

TEST_F(PageAssembly, TrailingOddByteIsIgnored) {
    Feed(0, Join({Marker(1, 1), Data(11)}));
    EXPECT_EQ(dev()->PageBytes[0], 10u);
}

// Height = whole lines, less three above three lines; width from the dpi.
struct SizeCase {
    uint16_t dpi;
    uint32_t data_bytes;
    uint32_t width;
    uint32_t height;
};

class PageSizes : public PageAssembly, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(PageSizes, HeightAndWidthFollowTheData) {
    const SizeCase& c = GetParam();
    sim::PageSpec plan;
    plan.dpi = c.dpi;
    plan.data_bytes = c.data_bytes;
    FeedTransfers(plan);
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    const Page page = Consume(records[0]);
    const uint8_t* h = page.header.data();
    EXPECT_EQ(Le32(h + 4), c.width);
    EXPECT_EQ(Le32(h + 8), c.height);
    EXPECT_EQ(Le32(h + 20), c.height * c.width);
    EXPECT_EQ(page.data, Data(c.height * c.width));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PageSizes,
    ::testing::Values(SizeCase{200, 0, 1728, 0}, SizeCase{200, 1728 * 3, 1728, 3},
                      SizeCase{200, 1728 * 3 + 1726, 1728, 3}, SizeCase{200, 1728 * 4, 1728, 1},
                      SizeCase{200, 1728 * 1000, 1728, 997}, SizeCase{50, 432 * 10, 432, 7},
                      SizeCase{100, 864 * 10, 864, 7}, SizeCase{133, 1152 * 10, 1152, 7},
                      SizeCase{150, 1296 * 10, 1296, 7}, SizeCase{300, 1728 * 10, 1728, 7},
                      SizeCase{0, 1728 * 10, 1728, 7}));

TEST_F(PageAssembly, LayerZeroStoresNoData) {
    Feed(0, Join({Marker(1, 1, 0), Data(4000), Marker(2, 1, 0), kWord}));
    EXPECT_EQ(allocator_.last_request, 1064u);
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].AllocSize, 1064u);
    const Page page = Consume(records[0]);
    EXPECT_EQ(page.block_size, 1064u);
    EXPECT_EQ(Le32(page.header.data() + 8), 0u);
    EXPECT_EQ(Le32(page.header.data() + 20), 0u);
}

TEST_F(PageAssembly, LayerTwoKeepsSixteenMebibytesLessOneWord) {
    Zerik_SetPageRcvHandler(dev(), nullptr, nullptr, nullptr, nullptr);  // the library's memory
    Feed(0, Join({Marker(1, 1, 2), Data(2)}));
    const Bytes chunk(32768, 0x55);
    for (int i = 0; i < 16 * 32 + 3; ++i) Feed(0, chunk);
    EXPECT_EQ(dev()->PageBytes[0], 16u * 1024 * 1024 - 2);
    Feed(0, Join({Marker(2, 1, 2), kWord}));
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].AllocSize, 16u * 1024 * 1024 + 1064);
    EXPECT_EQ(ZkGlobalSize(records[0].Memory), 16u * 1024 * 1024 + 1064);
    const uint32_t lines = (16u * 1024 * 1024 - 2) / 1728 - 3;
    EXPECT_EQ(Le32(Consume(records[0]).header.data() + 8), lines);
}

TEST_F(PageAssembly, AllocatorThatLowersTheSizeLimitsTheData) {
    allocator_.set_size = 1064 + 100;
    Feed(0, Join({Marker(1, 1), Data(1000), Marker(2, 1), kWord}));
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].AllocSize, 1164u);
    EXPECT_EQ(dev()->PageBytes[0], 98u);
    Consume(records[0]);
}

TEST_F(PageAssembly, DataStaysInsideABlockSmallerThanReported) {
    allocator_.block_size = 1064 + 100;  // the size variable keeps the full request
    Feed(0, Join({Marker(1, 1), Data(5000), Marker(2, 1), kWord}));
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].AllocSize, 8388608u + 1064u);
    EXPECT_EQ(dev()->PageBytes[0], 98u);
    Consume(records[0]);
}

// A page without memory is passed over; the next page is received again.
struct NoMemoryCase {
    const char* name;
    bool refuse;
    uint32_t set_size;
};

class NoMemory : public PageAssembly, public ::testing::WithParamInterface<NoMemoryCase> {};

TEST_P(NoMemory, PageIsPassedOverAndTheNextOneArrives) {
    allocator_.refuse = GetParam().refuse;
    allocator_.set_size = GetParam().set_size;
    Feed(0, Join({Marker(1, 1), Data(5000), Marker(2, 1), kWord}));
    EXPECT_EQ(dev()->PageStates[0], PageState::Idle);
    EXPECT_TRUE(TakeRecords().empty());
    EXPECT_EQ(os::GlobalBlockCount(), baseline_blocks_);

    allocator_ = TestAllocator{};
    Feed(0, Join({Marker(1, 2), Data(1728 * 5, 2), Marker(2, 2), kWord}));
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].PageNo, 2u);
    EXPECT_EQ(Consume(records[0]).data, Data(1728 * 2, 2));
}

INSTANTIATE_TEST_SUITE_P(Allocators, NoMemory,
                         ::testing::Values(NoMemoryCase{"Refused", true, 0},
                                           NoMemoryCase{"SmallerThanTheHeader", false, 1000}),
                         CaseName<NoMemoryCase>);

// Markers that do not fit the pipe's state: what is logged, and whether the
// open page goes on.
struct MismatchCase {
    const char* name;
    std::vector<Bytes> chunks;
    const char* line;  // UTF-8; empty: no error line at all
    int pages;
    bool open;
};

class MarkerMismatch : public PageAssembly, public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(MarkerMismatch, LogsAndKeepsThePage) {
    const MismatchCase& c = GetParam();
    for (const Bytes& chunk : c.chunks) Feed(0, chunk);
    const std::string log = LogText();
    if (c.line[0] != '\0') {
        EXPECT_NE(log.find(Gbk(c.line)), std::string::npos) << log;
    } else {
        EXPECT_EQ(log.find(Gbk("错误")), std::string::npos) << log;
    }
    std::vector<PageRecord> records = TakeRecords();
    EXPECT_EQ(static_cast<int>(records.size()), c.pages);
    for (const PageRecord& r : records) Consume(r);
    EXPECT_EQ(dev()->PageStates[0] == PageState::Receiving, c.open);
}

const Bytes kPage5 = Join({Marker(1, 5, 1, 150), Data(10), Marker(2, 5, 1, 150), kWord});
const Bytes kPage0 = Join({Marker(1, 0), Data(10), Marker(2, 0), kWord});

INSTANTIATE_TEST_SUITE_P(
    Markers, MarkerMismatch,
    ::testing::Values(
        MismatchCase{"EndForAnotherPageWhileIdle",
                     {kPage5, Join({Marker(2, 6, 1, 300), kWord})},
                     "错误!!!页结束-1 idx=0 type=0x2 pageno=5 dpi=150\n",
                     1,
                     false},
        MismatchCase{
            "SecondEndForTheSamePage", {kPage5, Join({Marker(2, 5), kWord})}, "", 1, false},
        MismatchCase{
            "EndWhileIdleAfterPageZero", {kPage0, Join({Marker(2, 6), kWord})}, "", 1, false},
        MismatchCase{"EndWhileIdleBeforeAnyPage", {Join({Marker(2, 6), kWord})}, "", 0, false},
        MismatchCase{"EndForAnotherPageClosesIt",
                     {Join({Marker(1, 7), Data(10), Marker(2, 8, 1, 100), kWord})},
                     "错误!!!页结束-2 idx=0 type=0x2 pageno=8 dpi=100\n",
                     1,
                     false},
        MismatchCase{"StartForAnotherPageKeepsItOpen",
                     {Join({Marker(1, 7), Data(10), Marker(1, 8, 1, 133), kWord})},
                     "错误!!!页开始 idx=0 type=0x1 pageno=8 dpi=133\n",
                     0,
                     true},
        MismatchCase{"StartForTheSamePageIsSilent",
                     {Join({Marker(1, 7), Data(10), Marker(1, 7), kWord})},
                     "",
                     0,
                     true},
        MismatchCase{"OtherTypesArePassedOver",
                     {Join({Marker(3, 7), Marker(1, 7), Marker(3, 9), kWord})},
                     "",
                     0,
                     true}),
    CaseName<MismatchCase>);

TEST_F(PageAssembly, MarkersInsideAPageAreNotStoredAsData) {
    Feed(0,
         Join({Marker(1, 7), Data(10), Marker(1, 8), Marker(3, 7), Data(6), Marker(2, 7), kWord}));
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(dev()->PageBytes[0], 16u);
    Consume(records[0]);
}

TEST_F(PageAssembly, PageNumbersWrapAt256) {
    Feed(0, Join({Marker(1, 255), Data(10), Marker(2, 255), kWord, Marker(1, 0), Data(10),
                  Marker(2, 0), kWord}));
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].PageNo, 255u);
    EXPECT_EQ(records[1].PageNo, 0u);
    for (const PageRecord& r : records) Consume(r);
}

TEST_F(PageAssembly, PipesAssembleIndependently) {
    Feed(0, Join({Marker(1, 1), Data(100, 1)}));
    Feed(1, Join({Marker(1, 2), Data(200, 2), Marker(2, 2), kWord}));
    Feed(0, Join({Data(50), Marker(2, 1), kWord}));
    const std::vector<PageRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Idx, 1u);
    EXPECT_EQ(records[0].PageNo, 2u);
    EXPECT_EQ(records[1].Idx, 0u);
    EXPECT_EQ(dev()->PageBytes[0], 150u);
    EXPECT_EQ(dev()->PageBytes[1], 200u);
    for (const PageRecord& r : records) Consume(r);
}

TEST_F(PageAssembly, OpenPageAndQueuedPagesAreFreedWithTheContext) {
    Feed(0, Join({Marker(1, 1), Data(100), Marker(2, 1), kWord}));
    Feed(1, Join({Marker(1, 2), Data(100)}));
    EXPECT_EQ(os::GlobalBlockCount(), baseline_blocks_ + 2);
    // TearDown checks that the context took both blocks with it.
}

}  // namespace
}  // namespace zerik::test
