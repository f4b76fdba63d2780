// The library against the zerik_sim program in a process of its own: the
// whole bring-up, unplugging and plugging through its control lines.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "coff_writer.h"
#include "link_fixture.h"

namespace zerik::test {
namespace {

// zerik_sim with a pipe on its standard input for control lines.
class SimProgram {
  public:
    explicit SimProgram(const std::vector<std::string>& args) {
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
    ~SimProgram() {
        if (control_ >= 0) close(control_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    SimProgram(const SimProgram&) = delete;
    SimProgram& operator=(const SimProgram&) = delete;

    void Send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(control_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

  private:
    pid_t pid_ = -1;
    int control_ = -1;
};

class DeviceProgram : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        CapturedLog::Instance().Clear();
        setenv("ZERIK_SYSTEM_DIR", ZERIK_BINARY_DIR "/share/zerik", 1);
    }
    bool SocketExists() const { return std::filesystem::exists(dir() + "/ZERIK-0"); }
    static int Count(const std::string& utf8) { return CapturedLog::Instance().Count(Gbk(utf8)); }
};

TEST_F(DeviceProgram, BringUpLossAndReturnOfTheLink) {
    SimProgram sim({"--dir", dir(), "--dsp", "stopped1", "--dev-type", "3"});
    ASSERT_TRUE(WaitFor([&] { return SocketExists(); }));
    DeviceContext* dev = Zerik_OpenDevice(CapturedLog::Sink);
    ASSERT_NE(dev, nullptr);
    const std::string version = Format("DSP运行正常 Ver=0x%X\n", coff::kDefaultFirmwareVersion);
    EXPECT_EQ(Count("设备已连接 DevType=ZERIK2\n"), 1);
    EXPECT_EQ(Count("加载DSP0成功\n"), 1);
    EXPECT_EQ(Count("加载DSP1成功\n"), 1);
    EXPECT_EQ(Count(version), 1);
    uint16_t word = 0;
    EXPECT_EQ(Zerik_ReadDspUshort(dev, 1, 0x7F84, &word), kOk);
    EXPECT_EQ(word, 1);

    sim.Send("unplug");
    ASSERT_TRUE(WaitFor([&] { return dev->Connected.load() == 0; }));
    EXPECT_EQ(Zerik_ReadDspUshort(dev, 0, 0x7F80, &word), kNotConnected);
    sim.Send("plug");
    // The DSPs kept running in the scanner: the bring-up finds them so.
    ASSERT_TRUE(WaitFor([&] { return Count(version) == 2; }, std::chrono::milliseconds(10000)));
    EXPECT_EQ(Count("设备已断开\n"), 1);
    EXPECT_EQ(Count("设备已连接 DevType=ZERIK2\n"), 2);
    EXPECT_EQ(Count("加载DSP0成功\n"), 1);
    EXPECT_EQ(Zerik_ReadDspUshort(dev, 0, 0x7F80, &word), kOk);
    EXPECT_EQ(word, coff::kDefaultFirmwareVersion);
    EXPECT_EQ(Zerik_CloseDevice(dev), 0);
}

}  // namespace
}  // namespace zerik::test
