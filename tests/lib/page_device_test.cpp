// Pages through an opened device: Zerik_OpenDevice against the simulated
// scanner, the page streamed with its scan events, the handler, the
// counters, and the close that frees what is left.
#include <gtest/gtest.h>

#include "page_delivery.h"
#include "page_rig.h"
#include "page_stream.h"
#include "sim_fixture.h"

namespace zerik::test {
namespace {

using namespace std::chrono_literals;

class DevicePages : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        CapturedLog::Instance().Clear();
        baseline_blocks_ = os::GlobalBlockCount();
    }
    void TearDown() override {
        if (dev_ != nullptr) Zerik_CloseDevice(dev_);
        dev_ = nullptr;
        // A thread that acknowledged late frees the context, and its pages, itself.
        EXPECT_TRUE(WaitFor([&] { return os::GlobalBlockCount() == baseline_blocks_; }));
        SimFixture::TearDown();
    }

    sim::Simulator& OpenWithHandler() {
        sim::Simulator& sim = StartSim(0);
        dev_ = Zerik_OpenDevice(CapturedLog::Sink);
        EXPECT_NE(dev_, nullptr);
        if (dev_ != nullptr) {
            Zerik_SetPageRcvHandler(dev_, PageSink::Handle, &sink_, PageSink::Allocate, nullptr);
        }
        return sim;
    }

    PageSink sink_;
    DeviceContext* dev_ = nullptr;
    std::size_t baseline_blocks_ = 0;
};

TEST_F(DevicePages, StreamedPageReachesTheHandlerAndIsCounted) {
    sim::Simulator& sim = OpenWithHandler();
    ASSERT_NE(dev_, nullptr);
    EXPECT_EQ(sim.Control("page no=1 layer=1 dpi=200 lines=10"), "page sent 1");
    ASSERT_TRUE(sink_.WaitForPages(1));
    const DeliveredPage page = sink_.Pages()[0];
    EXPECT_EQ(page.idx, 0u);
    EXPECT_EQ(page.page_no, 1u);
    EXPECT_EQ(page.width, 1728u);
    EXPECT_EQ(page.height, 7u);
    EXPECT_EQ(page.image_size, 12096u);
    EXPECT_TRUE(page.data_matches);

    int32_t pages = 0;
    EXPECT_TRUE(WaitFor([&] { return Zerik_GetRxPages(dev_, &pages) == 0 && pages == 1; }));
    // The receiver counts a chunk's bytes after the assembler has taken it,
    // so the page may be handed over a moment before.
    int32_t pipe0 = 0;
    int32_t pipe1 = 0;
    EXPECT_TRUE(WaitFor([&] {
        return Zerik_GetPipesRxBytes(dev_, &pipe0, &pipe1) == 0 && pipe0 == 17280 + 16 + 16 + 2;
    })) << pipe0;
    EXPECT_EQ(pipe1, 0);

    const std::string log = CapturedLog::Instance().Text();
    EXPECT_NE(log.find(Gbk("扫描开始 PageNo=1\n")), std::string::npos) << log;
    EXPECT_NE(log.find(Gbk("插入页 PageNo=1A \n")), std::string::npos);
    EXPECT_NE(log.find(Gbk("调用 PageRcvHandler\n")), std::string::npos);
}

TEST_F(DevicePages, CloseFreesAPageStillBeingReceived) {
    sim::Simulator& sim = OpenWithHandler();
    ASSERT_NE(dev_, nullptr);
    const auto marker = sim::PageMarkerBytes(1, 4, 1, 200);
    std::vector<uint8_t> opening(marker.begin(), marker.end());
    opening.resize(opening.size() + 1000, 0x11);
    sim.BroadcastData(1, opening);
    ASSERT_TRUE(WaitFor([&] { return os::GlobalBlockCount() == baseline_blocks_ + 1; }));
    Zerik_CloseDevice(dev_);
    dev_ = nullptr;
    EXPECT_TRUE(sink_.Pages().empty());
    // TearDown waits for the open page's buffer to go.
}

}  // namespace
}  // namespace zerik::test
