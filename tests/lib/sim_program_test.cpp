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

// Runs zerik_sim with a pipe on its standard input.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[0], STDIN_FILENO);
            close(fds[0]);
            close(fds[1]);
            if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
            std::vector<char*> argv{const_cast<char*>(ZERIK_SIM_PATH)};
            for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(ZERIK_SIM_PATH, argv.data());
            _exit(127);
        }
        close(fds[0]);
        control_ = fds[1];
    }
    ~SimProcess() {
        if (control_ >= 0) close(control_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void Send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(control_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void CloseInput() {
        close(control_);
        control_ = -1;
    }
    // Sends the signal and returns the exit status.
    int Stop(int signal_number) {
        kill(pid_, signal_number);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    int control_ = -1;
};

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
    SimProcess sim({"--dir", dir(), "--number", "3"});
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
    SimProcess sim({"--dir", dir()});
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
    SimProcess first({"--dir", dir(), "--number", "1"});
    SimProcess second({"--dir", dir(), "--number", "2"});
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
