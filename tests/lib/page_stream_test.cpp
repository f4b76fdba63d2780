// Pages from the simulated scanner's sockets through the data receivers and
// the page thread to the application's handler.
#include "page_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "page_delivery.h"
#include "page_rig.h"
#include "scanner.h"
#include "sim_fixture.h"

extern char** environ;

namespace zerik::test {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kStreamOverhead = 16 + 16 + 2;  // markers and the trailing word

// Transfer sizes (even: a transfer's odd last byte is not data) of a page stream (data of
// `data_bytes`) that start with `first` and go on with `then`, moved where needed so that the start
// marker and the end marker each lie inside one transfer with a word after them.
std::vector<uint32_t> WholeMarkerCuts(uint32_t data_bytes, uint32_t first, uint32_t then) {
    const uint32_t end_marker = 16 + data_bytes;
    auto splits_end = [&](uint32_t a) {
        for (uint32_t cut = a; cut < end_marker + 18; cut += then) {
            if (cut > end_marker && cut < end_marker + 18) return true;
        }
        return false;
    };
    if (first < 18) first = 18;
    while (splits_end(first)) first += 18;
    return {first, then};
}

class PageStream : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        CapturedLog::Instance().Clear();
        baseline_blocks_ = os::GlobalBlockCount();
    }
    void TearDown() override {
        rig_.reset();
        EXPECT_EQ(os::GlobalBlockCount(), baseline_blocks_);
        SimFixture::TearDown();
    }

    // A context linked to device path `number` with its receivers and page
    // thread running and the test's handler registered.
    void StartHost(int number) {
        rig_ = std::make_unique<PageRig>();
        ASSERT_TRUE(rig_->Connect(number));
        Zerik_SetPageRcvHandler(rig_->dev(), PageSink::Handle, &sink_, PageSink::Allocate, nullptr);
        rig_->StartDataReceivers();
        rig_->StartPageThread();
    }

    PageSink sink_;
    std::unique_ptr<PageRig> rig_;
    std::size_t baseline_blocks_ = 0;
};

TEST_F(PageStream, ControlLineSendsAPageThatReachesTheHandler) {
    sim::Simulator& sim = StartSim(3);
    StartHost(3);
    ASSERT_TRUE(WaitFor([&] { return sim.LinkCount() == 1; }));
    EXPECT_EQ(sim.Control("page pipe=1 no=3 dpi=150 lines=20 transfers=1000,778"), "page sent 1");
    ASSERT_TRUE(sink_.WaitForPages(1));
    const DeliveredPage page = sink_.Pages()[0];
    EXPECT_EQ(page.idx, 1u);
    EXPECT_EQ(page.page_no, 3u);
    EXPECT_EQ(page.dpi, 150u);
    EXPECT_EQ(page.width, 1296u);
    EXPECT_EQ(page.height, 17u);
    EXPECT_TRUE(page.data_matches);
    int32_t pipe0 = -1;
    int32_t pipe1 = -1;
    // Counted after the assembler has taken the chunk: possibly just after the hand-over.
    EXPECT_TRUE(WaitFor([&] {
        return Zerik_GetPipesRxBytes(rig_->dev(), &pipe0, &pipe1) == 0 &&
               pipe1 == static_cast<int32_t>(20 * 1296 + kStreamOverhead);
    })) << pipe1;
    EXPECT_EQ(pipe0, 0);
    EXPECT_TRUE(WaitFor([] {
        const std::string log = CapturedLog::Instance().Text();
        return log.find(Gbk("DataRxPipe0 线程启动 ")) != std::string::npos &&
               log.find(Gbk("DataRxPipe1 线程启动 ")) != std::string::npos;
    }));
    const std::string log = CapturedLog::Instance().Text();
    EXPECT_NE(log.find(Gbk("插入页 PageNo=3B \n")), std::string::npos);
}

// A read never runs past the end of the 2 MiB receive area: near its end
// the receiver starts over at the beginning.
TEST_F(PageStream, ReadsStayInsideTheReceiveArea) {
    sim::Simulator& sim = StartSim(7);
    rig_ = std::make_unique<PageRig>();
    ASSERT_TRUE(rig_->Connect(7));
    Zerik_SetPageRcvHandler(rig_->dev(), PageSink::Handle, &sink_, PageSink::Allocate, nullptr);
    rig_->dev()->RxRingPos[0] = kRxRingSize - 1000;
    rig_->StartDataReceivers();
    rig_->StartPageThread();
    ASSERT_TRUE(WaitFor([&] { return sim.LinkCount() == 1; }));
    sim::PageSpec plan;
    plan.data_bytes = 40000;
    plan.events = false;
    const uint32_t total = plan.data_bytes + kStreamOverhead;
    auto& scanner = dynamic_cast<sim::Scanner&>(sim.device());
    scanner.StreamPage(plan);
    ASSERT_TRUE(sink_.WaitForPages(1));
    EXPECT_TRUE(sink_.Pages()[0].data_matches);
    rig_->Stop();
    EXPECT_EQ(rig_->dev()->RxRingPos[0], total);  // 32768 from 0, then the rest
    EXPECT_EQ(rig_->dev()->RxBytes[0].load(), total);
}

TEST_F(PageStream, BadPageWordsAreRefused) {
    sim::Simulator& sim = StartSim(4);
    EXPECT_EQ(sim.Control("page pipe=2").rfind("? bad page word: pipe=2", 0), 0u);
    EXPECT_EQ(sim.Control("page transfers=0").rfind("? bad page word", 0), 0u);
    EXPECT_EQ(sim.Control("page colour=red").rfind("? bad page word", 0), 0u);
}

// Both pipes at once, transfers of sizes that put markers on every kind of
// boundary now and then, and a receive area that wraps many times.
TEST_F(PageStream, SoakOfAThousandPagesLosesNone) {
    sim::Simulator& sim = StartSim(5);
    StartHost(5);
    ASSERT_TRUE(WaitFor([&] { return sim.LinkCount() == 1; }));
    auto& scanner = dynamic_cast<sim::Scanner&>(sim.device());
    constexpr int kPagesPerPipe = 500;
    auto send = [&scanner](int pipe) {
        for (int i = 0; i < kPagesPerPipe; ++i) {
            sim::PageSpec plan;
            plan.pipe = pipe;
            plan.page_no = static_cast<uint8_t>(i);
            plan.data_bytes = 1728 * static_cast<uint32_t>(4 + i % 13);
            plan.transfers =
                WholeMarkerCuts(plan.data_bytes, static_cast<uint32_t>(18 + (i * 998) % 30000),
                                static_cast<uint32_t>(4096 + (i * 132) % 28672));
            plan.events = false;
            scanner.StreamPage(plan);
        }
    };
    std::thread pipe0(send, 0);
    std::thread pipe1(send, 1);
    pipe0.join();
    pipe1.join();
    ASSERT_TRUE(sink_.WaitForPages(2 * kPagesPerPipe, 30000ms));
    std::this_thread::sleep_for(200ms);
    const std::vector<DeliveredPage> pages = sink_.Pages();
    ASSERT_EQ(pages.size(), 2u * kPagesPerPipe);
    uint32_t next[2] = {0, 0};
    for (const DeliveredPage& page : pages) {
        ASSERT_LT(page.idx, 2u);
        EXPECT_EQ(page.page_no, next[page.idx] % 256);
        EXPECT_EQ(page.height, 1 + next[page.idx] % 13);
        EXPECT_TRUE(page.data_matches);
        ++next[page.idx];
    }
    EXPECT_EQ(next[0], static_cast<uint32_t>(kPagesPerPipe));
    EXPECT_EQ(next[1], static_cast<uint32_t>(kPagesPerPipe));
}

// The zerik_sim program, driven by a control line on its standard input.
class SimProcess {
  public:
    SimProcess(const std::string& dir, int number) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        std::string number_text = std::to_string(number);
        std::string dir_copy = dir;
        char program[] = ZERIK_SIM_PATH;
        char dir_flag[] = "--dir";
        char number_flag[] = "--number";
        char* argv[] = {program,     dir_flag,           dir_copy.data(),
                        number_flag, number_text.data(), nullptr};
        if (posix_spawn(&pid_, program, &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[0]);
        control_ = fds[1];
    }
    ~SimProcess() {
        if (control_ >= 0) close(control_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    bool running() const { return pid_ > 0; }
    bool Send(const std::string& line) {
        const std::string text = line + "\n";
        return write(control_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

  private:
    pid_t pid_ = -1;
    int control_ = -1;
};

TEST_F(PageStream, SoakThroughTheSimulatorProgram) {
    SimProcess sim(dir(), 6);
    ASSERT_TRUE(sim.running());
    rig_ = std::make_unique<PageRig>();
    ASSERT_TRUE(WaitFor([&] { return rig_->Connect(6); }, 20000ms));
    Zerik_SetPageRcvHandler(rig_->dev(), PageSink::Handle, &sink_, PageSink::Allocate, nullptr);
    rig_->StartDataReceivers();
    rig_->StartPageThread();
    // The program takes the link a moment after the host has connected: a
    // first page on pipe 0 shows that it has.
    std::size_t probes = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            ++probes;
            return sim.Send("page pipe=0 no=200 lines=4") && sink_.WaitForPages(1, 200ms);
        },
        20000ms));
    // 6 lines of 1728 bytes: the end marker of every page lies inside a
    // transfer of these sizes. No scan events: no one reads the message pipe.
    ASSERT_TRUE(sim.Send("page pipe=1 no=0 lines=6 transfers=3000,32768,5000 events=0 count=1000"));
    std::vector<DeliveredPage> soak;
    ASSERT_TRUE(WaitFor(
        [&] {
            soak.clear();
            for (const DeliveredPage& page : sink_.Pages()) {
                if (page.idx == 1) soak.push_back(page);
            }
            return soak.size() >= 1000;
        },
        60000ms));
    EXPECT_LE(sink_.Pages().size() - soak.size(), probes);
    ASSERT_EQ(soak.size(), 1000u);
    for (uint32_t i = 0; i < soak.size(); ++i) {
        EXPECT_EQ(soak[i].page_no, i % 256);
        EXPECT_EQ(soak[i].height, 3u);
        EXPECT_TRUE(soak[i].data_matches);
    }
}

}  // namespace
}  // namespace zerik::test
