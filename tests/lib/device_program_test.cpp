// The library against the zerik_sim program in a process of its own: the
// whole bring-up, unplugging and plugging through its control lines.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "coff_writer.h"
#include "link_fixture.h"

namespace zerik::test {
namespace {

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
