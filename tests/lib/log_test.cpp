#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "log.h"
#include "sim_fixture.h"
#include "texts.h"

namespace zerik {
namespace {

using test::Gbk;
using test::ReadFile;

class LogTest : public test::SimFixture {};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(LogTest, LinesCarryTheTimeStampAndTheCallersText) {
    EXPECT_EQ(LibraryLog("value=%d name=%s\n", 42, "x"), 0);
    const auto lines = Lines(Log());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(R"(\[\d\d \d\d:\d\d:\d\d\.\d\d\d\]: value=42 name=x)")))
        << lines[0];
}

TEST_F(LogTest, ChineseTextsAreWrittenAsGbkBytes) {
    LibraryLog(text::kOpenFailed);
    const std::string log = Log();
    EXPECT_NE(log.find(Gbk("打开设备失败\n")), std::string::npos);
    EXPECT_EQ(log.find("打开"), std::string::npos) << "no UTF-8 in the file";
}

TEST_F(LogTest, AppendsWithoutAddingLineEnds) {
    LibraryLog("first ");
    LibraryLog("second\n");
    const std::string log = Log();
    EXPECT_EQ(test::CountOf(log, "\n"), 1);
    EXPECT_EQ(test::CountOf(log, "]: "), 2);
}

TEST_F(LogTest, OverlongLineIsCutInsideTheBuffer) {
    const std::string long_text(5000, 'x');
    EXPECT_EQ(LibraryLog("%s\n", long_text.c_str()), 0);
    const std::string log = Log();
    EXPECT_EQ(log.size(), 1023u);
    EXPECT_EQ(log.back(), '\n');
}

TEST_F(LogTest, UnwritableLocationNeverFails) {
    setenv("ZERIK_LOG", (dir() + "/no/such/folder/zerik_dll.log").c_str(), 1);
    ReopenLogFile();
    EXPECT_EQ(LibraryLog("lost line\n"), 0);
    // The next line tries again and finds the file once it can be made.
    setenv("ZERIK_LOG", LogPath().c_str(), 1);
    EXPECT_EQ(LibraryLog("kept line\n"), 0);
    EXPECT_NE(Log().find("kept line"), std::string::npos);
    EXPECT_EQ(Log().find("lost line"), std::string::npos);
}

TEST_F(LogTest, PlantedSymbolicLinkIsNotFollowed) {
    const std::string target = dir() + "/victim";
    { std::ofstream(target) << "precious\n"; }
    ASSERT_EQ(symlink(target.c_str(), LogPath().c_str()), 0);
    EXPECT_EQ(LibraryLog("through the link\n"), 0);
    EXPECT_EQ(ReadFile(target), "precious\n");
}

TEST_F(LogTest, NewFileIsPrivateToTheUser) {
    LibraryLog("x\n");
    struct stat st {};
    ASSERT_EQ(stat(LogPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(LogTest, TwoProcessesInterleaveWholeLinesOnly) {
    constexpr int kLinesEach = 400;
    const std::string payload(300, 'p');
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        if (children[c] == 0) {
            ReopenLogFile();
            for (int i = 0; i < kLinesEach; ++i) {
                LibraryLog("proc%d line%04d %s end\n", c, i, payload.c_str());
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
    }
    const auto lines = Lines(Log());
    ASSERT_EQ(lines.size(), 2u * kLinesEach);
    const std::regex whole(R"(\[\d\d \d\d:\d\d:\d\d\.\d\d\d\]: proc[01] line\d{4} p{300} end)");
    for (const auto& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

TEST(Trace, WritesNothing) {
    char pattern[] = "/tmp/zerik-trace-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/log";
    setenv("ZERIK_LOG", path.c_str(), 1);
    ReopenLogFile();
    Trace(text::kPipeTestNotice);
    EXPECT_FALSE(std::filesystem::exists(path));
    std::filesystem::remove_all(pattern);
}

TEST(LogFilePath, DefaultsToThePerUserStateFolder) {
    unsetenv("ZERIK_LOG");
    setenv("XDG_STATE_HOME", "/home/someone/.state", 1);
    EXPECT_EQ(LogFilePath(), "/home/someone/.state/zerik/zerik_dll.log");
    unsetenv("XDG_STATE_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(LogFilePath(), "/home/someone/.local/state/zerik/zerik_dll.log");
}

}  // namespace
}  // namespace zerik
