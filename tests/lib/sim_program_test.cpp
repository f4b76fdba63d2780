// The simulated scanner as a separate process, as scripts and the console
// tests use it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "sim_fixture.h"
#include "transport.h"

namespace zerik {
namespace {

using test::SimProgram;

// Generous: the suite runs many processes at once, also under sanitizers.
constexpr std::chrono::milliseconds kStartAllowance(30000);

class SimProgramTest : public test::SimFixture {
protected:
    std::string Socket(int number) const { return dir() + "/ZERIK-" + std::to_string(number); }
    bool SocketExists(int number) const { return std::filesystem::exists(Socket(number)); }

    bool Links() {
        DeviceContext dev;
        dev.Log = LibraryLog;
        return OpenDriverPipes(&dev);
    }
};

TEST_F(SimProgramTest, ServesUntilSignalledAndSurvivesTheEndOfItsInput) {
    SimProgram sim({"--dir", dir(), "--number", "3"});
    ASSERT_TRUE(test::WaitFor([&] { return SocketExists(3); }, kStartAllowance));
    EXPECT_TRUE(test::WaitFor([&] { return Links(); }, kStartAllowance));
    sim.CloseInput();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(sim.Running());
    EXPECT_TRUE(Links());
    const int status = sim.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(SocketExists(3));
}

TEST_F(SimProgramTest, UnplugAndPlugControlLines) {
    SimProgram sim({"--dir", dir()});
    ASSERT_TRUE(test::WaitFor([&] { return SocketExists(0); }, kStartAllowance));
    sim.Send("unplug");
    ASSERT_TRUE(test::WaitFor([&] { return !SocketExists(0); }));
    EXPECT_FALSE(Links());
    sim.Send("plug");
    ASSERT_TRUE(test::WaitFor([&] { return SocketExists(0); }, kStartAllowance));
    // The socket may appear before the scanner serves it again.
    EXPECT_TRUE(test::WaitFor([&] { return Links(); }, kStartAllowance));
    sim.Send("pipetest silent");
    EXPECT_TRUE(test::WaitFor([&] { return !Links(); }, kStartAllowance));
    EXPECT_NE(Log().find(test::Gbk("MsgPipe 测试失败1\n")), std::string::npos);
    const int status = sim.Stop(SIGINT);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SimProgramTest, SeveralRunAtOnceWithDifferentNumbers) {
    SimProgram first({"--dir", dir(), "--number", "1"});
    SimProgram second({"--dir", dir(), "--number", "2"});
    ASSERT_TRUE(
        test::WaitFor([&] { return SocketExists(1) && SocketExists(2); }, kStartAllowance));
    first.Send("unplug");
    ASSERT_TRUE(test::WaitFor([&] { return !SocketExists(1); }, kStartAllowance));
    EXPECT_TRUE(test::WaitFor([&] { return Links(); }, kStartAllowance))
        << "the scanner on path 2 still serves";
}

TEST(SimProgram, HelpDocumentsOptionsAndControlLines) {
    std::FILE* out = popen((std::string(ZERIK_SIM_PATH) + " --help").c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) text += buffer;
    EXPECT_EQ(pclose(out), 0);
    for (const char* word : {"--dir", "--number", "unplug", "plug", "pipetest"}) {
        EXPECT_NE(text.find(word), std::string::npos) << word;
    }
}

TEST(SimProgram, BadNumberIsRefused) {
    const int rc = std::system((std::string(ZERIK_SIM_PATH) + " --number 100 >/dev/null 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 2);
}

}  // namespace
}  // namespace zerik
