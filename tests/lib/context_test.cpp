#include <cstdarg>
#include <mutex>

#include "context.h"
#include "sim_fixture.h"
#include "zerik_dll.h"

namespace zerik {
namespace {

using test::CountOf;
using test::Gbk;

// A log callback that keeps what it is given.
std::mutex g_captured_mutex;
std::string g_captured;

int CaptureLog(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_captured_mutex);
    g_captured += line;
    return 0;
}

std::string Captured() {
    std::lock_guard<std::mutex> lock(g_captured_mutex);
    return g_captured;
}

class ContextTest : public test::SimFixture {};

const char* const kExitLines[] = {"DevMonThread 线程退出\n", "MsgRxPipe 线程退出\n",
                                  "DataRxPipe0 线程退出\n", "DataRxPipe1 线程退出\n",
                                  "PageProcThread 线程退出\n"};

bool AllExitLinesIn(const std::string& log) {
    for (const char* line : kExitLines) {
        if (CountOf(log, Gbk(line)) != 1) return false;
    }
    return true;
}

TEST_F(ContextTest, OpenWithoutScannerFailsAfterAboutFourSeconds) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Zerik_OpenDevice(nullptr), nullptr);
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(4050));
    EXPECT_LT(spent, std::chrono::milliseconds(7000));
    // The threads acknowledge before the open returns and write their exit
    // lines as they end.
    EXPECT_TRUE(test::WaitFor([&] { return AllExitLinesIn(Log()); })) << Log();
    const std::string log = Log();
    const std::string first_line = log.substr(0, log.find('\n') + 1);
    EXPECT_TRUE(first_line.ends_with("]: Zerik_OpenDevice\n")) << first_line;
    EXPECT_GE(CountOf(log, Gbk("打开设备失败\n")), 5) << "one per monitor pass";
}

TEST_F(ContextTest, CallbackGetsTheDeviceLinesAndTheFileOnlyTheFixedOnes) {
    EXPECT_EQ(Zerik_OpenDevice(CaptureLog), nullptr);
    EXPECT_TRUE(test::WaitFor([&] { return AllExitLinesIn(Log()); })) << Log();
    EXPECT_GE(CountOf(Captured(), Gbk("打开设备失败\n")), 5);
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "Zerik_OpenDevice\n"), 1);
    EXPECT_EQ(CountOf(log, Gbk("打开设备失败")), 0);
}

TEST_F(ContextTest, CloseOfNullWritesItsEntryLineAndReturnsZero) {
    EXPECT_EQ(Zerik_CloseDevice(nullptr), 0);
    EXPECT_EQ(CountOf(Log(), "]: Zerik_CloseDevice\n"), 1);
}

}  // namespace
}  // namespace zerik
