// Page hand-over: the page thread with pages assembled directly, and the
// exports that register the callbacks and report the counters.
#include <gtest/gtest.h>

#include <thread>

#include "data_receiver.h"
#include "page_delivery.h"
#include "page_rig.h"
#include "page_stream.h"
#include "sim_fixture.h"

namespace zerik::test {
namespace {

using namespace std::chrono_literals;

class PageHandover : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        CapturedLog::Instance().Clear();
        baseline_blocks_ = os::GlobalBlockCount();
        rig_ = std::make_unique<PageRig>();
        rig_->StartPageThread();
    }
    void TearDown() override {
        rig_.reset();
        EXPECT_EQ(os::GlobalBlockCount(), baseline_blocks_);
        SimFixture::TearDown();
    }

    DeviceContext* dev() const { return rig_->dev(); }

    // Assembles one whole page on data pipe `idx`, as its receiver would.
    void FeedPage(int idx, uint8_t page_no, uint32_t lines = 10) {
        sim::PageSpec plan;
        plan.pipe = idx;
        plan.page_no = page_no;
        plan.data_bytes = lines * 1728;
        for (const auto& transfer : sim::PageTransfers(plan)) {
            AssembleChunk(dev(), idx, transfer.data(), static_cast<uint32_t>(transfer.size()));
        }
    }

    bool AllPageMemoryFreed() {
        return WaitFor([&] { return os::GlobalBlockCount() == baseline_blocks_; });
    }

    PageSink sink_;
    std::unique_ptr<PageRig> rig_;
    std::size_t baseline_blocks_ = 0;
};

TEST_F(PageHandover, HandlerGetsEachPageOnceInTheApplicationsMemory) {
    Zerik_SetPageRcvHandler(dev(), PageSink::Handle, &sink_, PageSink::Allocate, nullptr);
    FeedPage(0, 1);
    ASSERT_TRUE(sink_.WaitForPages(1));
    std::this_thread::sleep_for(600ms);  // a second call would come within a pass
    const std::vector<DeliveredPage> pages = sink_.Pages();
    ASSERT_EQ(pages.size(), 1u);
    const DeliveredPage& p = pages[0];
    EXPECT_EQ(p.idx, 0u);
    EXPECT_EQ(p.page_no, 1u);
    EXPECT_EQ(p.dpi, 200u);
    EXPECT_EQ(p.layer, 1u);
    EXPECT_EQ(p.alloc_size, 8388608u + 1064u);
    EXPECT_EQ(p.width, 1728u);
    EXPECT_EQ(p.height, 7u);
    EXPECT_EQ(p.image_size, 12096u);
    EXPECT_TRUE(p.data_matches);
    EXPECT_TRUE(p.was_unlocked);
    EXPECT_TRUE(AllPageMemoryFreed());

    const std::string log = CapturedLog::Instance().Text();
    EXPECT_NE(log.find(Gbk("PageProcThread 线程启动\n")), std::string::npos);
    const std::size_t call = log.find(Gbk("调用 PageRcvHandler\n"));
    ASSERT_NE(call, std::string::npos) << log;
    EXPECT_NE(log.find("OK\n", call), std::string::npos);
}

// Without the application's allocator no page reaches the handler, and the
// library frees every page; with an allocator but no handler, too.
struct DiscardCase {
    const char* name;
    bool allocator;
    bool handler;
};

class PageDiscard : public PageHandover, public ::testing::WithParamInterface<DiscardCase> {};

TEST_P(PageDiscard, LibraryFreesPagesNoHandlerSees) {
    Zerik_SetPageRcvHandler(dev(), GetParam().handler ? PageSink::Handle : nullptr, &sink_,
                            GetParam().allocator ? PageSink::Allocate : nullptr, nullptr);
    for (uint8_t page = 1; page <= 5; ++page) FeedPage(page % 2, page);
    EXPECT_TRUE(WaitFor([&] {
        os::NamedMutexLock lock(dev()->PListMutex.get(), os::kInfinite);
        return dev()->PageList.empty();
    }));
    EXPECT_TRUE(AllPageMemoryFreed());
    EXPECT_TRUE(sink_.Pages().empty());
    EXPECT_EQ(CapturedLog::Instance().Text().find(Gbk("调用 PageRcvHandler\n")), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Registrations, PageDiscard,
                         ::testing::Values(DiscardCase{"NoAllocator", false, true},
                                           DiscardCase{"NothingRegistered", false, false},
                                           DiscardCase{"AllocatorWithoutHandler", true, false}),
                         [](const ::testing::TestParamInfo<DiscardCase>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(PageHandover, PagesOfBothPipesArriveInCompletionOrder) {
    Zerik_SetPageRcvHandler(dev(), PageSink::Handle, &sink_, PageSink::Allocate, nullptr);
    const std::vector<std::pair<int, uint8_t>> order{{0, 1}, {1, 1}, {1, 2}, {0, 2},
                                                     {0, 3}, {1, 3}, {0, 4}, {1, 4}};
    for (const auto& [idx, page] : order) FeedPage(idx, page, 4);
    ASSERT_TRUE(sink_.WaitForPages(order.size()));
    const std::vector<DeliveredPage> pages = sink_.Pages();
    ASSERT_EQ(pages.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(pages[i].idx, static_cast<uint32_t>(order[i].first)) << i;
        EXPECT_EQ(pages[i].page_no, order[i].second) << i;
    }
}

TEST_F(PageHandover, SlowHandlerDelaysButLosesNoPage) {
    Zerik_SetPageRcvHandler(dev(), PageSink::Handle, &sink_, PageSink::Allocate, nullptr);
    sink_.DelayNextCall(2500ms);
    FeedPage(0, 1);
    ASSERT_TRUE(sink_.WaitForPages(1));
    for (uint8_t page = 2; page <= 30; ++page) FeedPage(page % 2, page, 3);
    EXPECT_EQ(sink_.Pages().size(), 1u);  // the handler is still busy with the first
    ASSERT_TRUE(sink_.WaitForPages(30));
    const std::vector<DeliveredPage> pages = sink_.Pages();
    ASSERT_EQ(pages.size(), 30u);
    for (uint32_t i = 0; i < 30; ++i) {
        EXPECT_EQ(pages[i].page_no, i + 1);
        EXPECT_TRUE(pages[i].data_matches);
    }
}

TEST_F(PageHandover, NewRegistrationAppliesToTheNextPage) {
    // Allocated by the library, handed over under the application's later
    // registration: the handler gets it.
    Zerik_SetPageRcvHandler(dev(), nullptr, nullptr, nullptr, nullptr);
    {
        os::NamedMutexLock hold(dev()->PListMutex.get(), os::kInfinite);
        FeedPage(0, 1);  // queued while the page thread cannot take it
        Zerik_SetPageRcvHandler(dev(), PageSink::Handle, &sink_, PageSink::Allocate, nullptr);
    }
    ASSERT_TRUE(sink_.WaitForPages(1));
    EXPECT_EQ(sink_.Pages()[0].page_no, 1u);
}

TEST(PageExports, NullContextAndNullOutputsAreRefused) {
    int32_t a = 7;
    int32_t b = 7;
    EXPECT_EQ(Zerik_SetPageRcvHandler(nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(Zerik_GetRxPages(nullptr, &a), -1);
    EXPECT_EQ(Zerik_GetPipesRxBytes(nullptr, &a, &b), -1);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 7);
    PageRig rig;
    EXPECT_EQ(Zerik_GetRxPages(rig.dev(), nullptr), -1);
    EXPECT_EQ(Zerik_GetPipesRxBytes(rig.dev(), nullptr, &b), -1);
    EXPECT_EQ(Zerik_GetPipesRxBytes(rig.dev(), &a, nullptr), -1);
}

TEST(PageExports, CountersAreReported) {
    PageRig rig;
    int32_t pages = -1;
    int32_t pipe0 = -1;
    int32_t pipe1 = -1;
    EXPECT_EQ(Zerik_GetPipesRxBytes(rig.dev(), &pipe0, &pipe1), 0);
    EXPECT_EQ(pipe0, 0);
    EXPECT_EQ(pipe1, 0);
    EXPECT_EQ(Zerik_GetRxPages(rig.dev(), &pages), 0);
    EXPECT_EQ(pages, 0);
    rig.dev()->RxPages.store(5);
    rig.dev()->RxBytes[0].store(1234);
    rig.dev()->RxBytes[1].store(98765);
    EXPECT_EQ(Zerik_GetRxPages(rig.dev(), &pages), 0);
    EXPECT_EQ(pages, 5);
    EXPECT_EQ(Zerik_GetPipesRxBytes(rig.dev(), &pipe0, &pipe1), 0);
    EXPECT_EQ(pipe0, 1234);
    EXPECT_EQ(pipe1, 98765);
}

}  // namespace
}  // namespace zerik::test
