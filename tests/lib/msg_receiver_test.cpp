// The message receiver: report lines, scan events and the page counter, the
// idle state while not connected, and its stop protocol.
#include "link_fixture.h"
#include "scanner.h"

namespace zerik::test {
namespace {

class MsgReceiver : public LinkFixture {
  protected:
    void SetUp() override {
        LinkFixture::SetUp();
        auto scanner = std::make_unique<sim::Scanner>();
        scanner_ = scanner.get();
        Link(std::move(scanner));
        ASSERT_TRUE(WaitFor([] { return CapturedLog::Instance().Lines().size() == 1; }));
    }

    // Sends a report through the scanner's control line and waits for `lines` new log lines.
    std::vector<std::string> Report(const std::string& line, std::size_t lines) {
        const std::size_t before = CapturedLog::Instance().Lines().size();
        EXPECT_EQ(sim_->Control(line).rfind("report", 0), 0u) << line;
        EXPECT_TRUE(
            WaitFor([&] { return CapturedLog::Instance().Lines().size() >= before + lines; }));
        const std::vector<std::string> texts = CapturedLog::Instance().Texts();
        return std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(before),
                                        texts.end());
    }

    sim::Scanner* scanner_ = nullptr;
};

// The milliseconds of a scan-end line "扫描结束 PageNo=<page> exps=<ms>ms\n".
int64_t ScanEndMs(const std::string& line, int page) {
    const std::string head = Gbk("扫描结束 PageNo=") + std::to_string(page) + " exps=";
    if (line.rfind(head, 0) != 0 || line.size() < head.size() + 3 ||
        line.compare(line.size() - 3, 3, "ms\n") != 0) {
        return -1;
    }
    return std::stoll(line.substr(head.size(), line.size() - head.size() - 3));
}

TEST_F(MsgReceiver, StartLineGoesToTheDeviceLog) {
    EXPECT_EQ(CapturedLog::Instance().Texts().front(), Gbk("MsgRcvThread  线程启动\n"));
}

struct ReportCase {
    const char* control;
    std::vector<std::string> lines;  // UTF-8
};

TEST_F(MsgReceiver, ReportsAreLoggedWithTheirWords) {
    const std::vector<ReportCase> cases = {
        {"report timer 0xBEEF", {"T0Ticks=BEEF\n"}},
        {"report status 0x11 0x2222 3 4 5 0xFFFF",
         {"状态: [0011] Tick=2222 SYS=0003 S0=0004 S1=0005 S2=FFFF\n"}},
        {"report fault 5 1 2 3 4 5", {"错误: [0005] Tick=0001 SYS=0002 S0=0003 S1=0004 S2=0005\n"}},
        {"report fault 1", {"错误: [0001] Tick=0000 SYS=0000 S0=0000 S1=0000 S2=0000\n"}},
        {"report event 7 9 1 2 3 4 5 6 7",
         {"事件: [0907] Tick=0001 SYS=0002 S0=0003 S1=0004 S2=0005 DPI=0006 L=0007\n"}},
        {"report event 10 0",
         {"事件: [000A] Tick=0000 SYS=0000 S0=0000 S1=0000 S2=0000 DPI=0000 L=0000\n",
          "事件：********纸厚校验结束***********\n"}},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.control);
        std::vector<std::string> expected;
        for (const std::string& line : c.lines) expected.push_back(Gbk(line));
        EXPECT_EQ(Report(c.control, c.lines.size()), expected);
    }
    EXPECT_EQ(dev_->RxPages.load(), 0);
}

// A short report still yields eight words: the bytes it did not bring are
// those of the message before it.
TEST_F(MsgReceiver, ShortReportTakesTheRestFromTheMessageBefore) {
    std::vector<uint8_t> full(64, 0);
    full[0] = 0xF1;
    for (int i = 3; i < 19; ++i) full[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    const std::vector<uint8_t> short_report = {0xF1, 0x00, 0x00, 0xAA, 0xBB};
    sim_->Broadcast(full);
    sim_->Broadcast(short_report);
    const std::string first = Gbk("状态: [0403] Tick=0605 SYS=0807 S0=0A09 S1=0C0B S2=0E0D\n");
    const std::string second = Gbk("状态: [BBAA] Tick=0605 SYS=0807 S0=0A09 S1=0C0B S2=0E0D\n");
    ASSERT_TRUE(WaitFor([&] { return CapturedLog::Instance().Count(second) == 1; }))
        << ::testing::PrintToString(CapturedLog::Instance().Texts());
    EXPECT_EQ(CapturedLog::Instance().Count(first), 1);
}

TEST_F(MsgReceiver, ScanEventsKeepTheTimingAndCountPages) {
    const std::vector<std::string> start = Report("report event 1 3", 2);
    ASSERT_EQ(start.size(), 2u);
    EXPECT_EQ(start[1], Gbk("扫描开始 PageNo=3\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const std::vector<std::string> end = Report("report event 2 5", 2);
    ASSERT_EQ(end.size(), 2u);
    const int64_t elapsed = ScanEndMs(end[1], 5);
    EXPECT_GE(elapsed, 100) << end[1];
    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(dev_->RxPages.load(), 1);
    Report("report event 2 6", 2);
    EXPECT_EQ(dev_->RxPages.load(), 2);
}

TEST_F(MsgReceiver, ScanEndWithoutStartCountsFromZero) {
    const std::vector<std::string> end = Report("report event 2 1", 2);
    ASSERT_EQ(end.size(), 2u);
    // The time since tick 0: the tick count itself (as a signed 32-bit number).
    const int64_t elapsed = ScanEndMs(end[1], 1);
    const int64_t now = static_cast<int32_t>(os::TickCount());
    EXPECT_LE(std::llabs(now - elapsed), 1000) << end[1];
}

TEST_F(MsgReceiver, ReportsAreNotReplies) {
    // A report arriving while an exchange waits does not answer it.
    scanner_->Control("drop 1");
    std::thread reporter([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sim_->Control("report status 1 2 3 4 5 6");
    });
    uint8_t out = 0;
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC005, 1, &out), kNoReply);
    reporter.join();
}

TEST_F(MsgReceiver, IdlesWhileNotConnected) {
    dev_->Connected.store(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // any read in progress ends
    sim_->Control("report timer 0x42");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(CapturedLog::Instance().Count("T0Ticks=42\n"), 0);
    dev_->Connected.store(1);
    EXPECT_TRUE(WaitFor([] { return CapturedLog::Instance().Count("T0Ticks=42\n") == 1; }));
}

TEST_F(MsgReceiver, StopsOnRequestWithItsExitLine) {
    dev_->MsgRxStop.store(1);
    EXPECT_TRUE(
        WaitFor([this] { return dev_->MsgRxStop.load() == 0; }, std::chrono::milliseconds(1500)));
    EXPECT_TRUE(
        WaitFor([this] { return Log().find(Gbk("MsgRxPipe 线程退出\n")) != std::string::npos; }));
    ReleaseContext(dev_);
    dev_ = nullptr;
}

}  // namespace
}  // namespace zerik::test
