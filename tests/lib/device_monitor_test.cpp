// The device monitor against the simulated scanner: bring-up with running and
// stopped DSPs, loss and return of the link, keep-alives, and the monitor's
// own commands.
#include "device_monitor.h"

#include <algorithm>
#include <chrono>

#include "coff_writer.h"
#include "link_fixture.h"
#include "scanner.h"
#include "texts.h"

namespace zerik::test {
namespace {

const std::string kSystemDir = ZERIK_BINARY_DIR "/share/zerik";

std::string ConnectedLine(const char* type) {
    return Format(Gbk("设备已连接 DevType=%s\n").c_str(), type);
}
std::string RunningLine(unsigned version) {
    return Format(Gbk("DSP运行正常 Ver=0x%X\n").c_str(), version);
}

class Monitor : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        CapturedLog::Instance().Clear();
        setenv("ZERIK_SYSTEM_DIR", kSystemDir.c_str(), 1);
    }
    void TearDown() override {
        if (dev_ != nullptr) Zerik_CloseDevice(dev_);
        dev_ = nullptr;
        SimFixture::TearDown();
    }

    sim::Scanner& Start(const std::vector<std::string>& options = {}) {
        sim_ = &StartSim(0, options);
        return static_cast<sim::Scanner&>(sim_->device());
    }
    void Open() {
        dev_ = Zerik_OpenDevice(CapturedLog::Sink);
        ASSERT_NE(dev_, nullptr);
    }
    static std::vector<std::string> Lines() { return CapturedLog::Instance().Texts(); }
    // Index of the first line equal to `text` from `from` on; -1 when none.
    static long Find(const std::vector<std::string>& lines, const std::string& text,
                     long from = 0) {
        const auto it = std::find(lines.begin() + from, lines.end(), text);
        return it == lines.end() ? -1 : it - lines.begin();
    }
    static int CountStartingWith(const std::vector<std::string>& lines, const std::string& head) {
        return static_cast<int>(
            std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.rfind(head, 0) == 0; }));
    }

    sim::Simulator* sim_ = nullptr;
    DeviceContext* dev_ = nullptr;
};

TEST_F(Monitor, RunningDspsAreNeitherResetNorLoaded) {
    sim::Scanner& scanner = Start();
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::vector<std::string> lines = Lines();
    const long connected = Find(lines, ConnectedLine("ZERIK2"));
    const long flash = Find(lines, "FlashID=0xBFD7\n");
    const long running = Find(lines, RunningLine(sim::Scanner::kDefaultFirmwareVersion));
    ASSERT_GE(connected, 0);
    EXPECT_GT(flash, connected);
    EXPECT_GT(running, flash);
    EXPECT_EQ(CountStartingWith(lines, Gbk("加载DSP")), 0);
    const long pipe_test = Find(lines, Gbk("USB Pipe 测试成功\n"));
    const long type_query = Find(lines, "Zerik_GetDevType\n");
    EXPECT_GE(pipe_test, 0);
    EXPECT_GT(type_query, pipe_test);
    EXPECT_GT(connected, type_query);
    EXPECT_EQ(scanner.dsp_starts(0) + scanner.dsp_starts(1), 0);
    EXPECT_EQ(scanner.register_byte(0xC019), 0) << "no reset";
    EXPECT_EQ(dev_->DevType.load(), 1);
    EXPECT_EQ(dev_->Ready.load(), 1);
    EXPECT_GE(scanner.keep_alives(), 1);
    EXPECT_EQ(scanner.last_keep_alive(), 200);
}

struct StoppedCase {
    const char* name;
    const char* option;
};

class StoppedDsps : public Monitor, public ::testing::WithParamInterface<StoppedCase> {};

// Both DSPs are reset and loaded, also when only DSP 1 stood still, and
// their memories then hold the firmware's sections.
TEST_P(StoppedDsps, BothAreResetLoadedAndStarted) {
    sim::Scanner& scanner = Start({"--dsp", GetParam().option});
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::vector<std::string> lines = Lines();
    const long connected = Find(lines, ConnectedLine("ZERIK2"));
    const long dsp0 = Find(lines, Gbk("加载DSP0成功\n"));
    const long dsp1 = Find(lines, Gbk("加载DSP1成功\n"));
    const long running = Find(lines, RunningLine(coff::kDefaultFirmwareVersion));
    ASSERT_GE(connected, 0);
    EXPECT_GT(dsp0, connected);
    EXPECT_GT(dsp1, dsp0);
    EXPECT_GT(running, dsp1);

    const coff::Executable firmware = coff::DefaultFirmware();
    for (int dsp = 0; dsp < 2; ++dsp) {
        SCOPED_TRACE(dsp);
        EXPECT_TRUE(scanner.dsp_running(dsp));
        EXPECT_EQ(scanner.dsp_starts(dsp), 1);
        EXPECT_EQ(scanner.dsp_entry_point(dsp), firmware.entry_point);
        EXPECT_EQ(scanner.dsp_word(dsp, 0x7F84), dsp);
        for (const coff::Section& section : firmware.sections) {
            if ((section.flags & 0x60) == 0) continue;
            SCOPED_TRACE(section.name);
            // Read back through the library: words high byte first in the file.
            const uint16_t base = static_cast<uint16_t>(section.address >> 1);
            for (std::size_t i = 0; i < section.data.size(); i += 2) {
                const uint16_t expected = static_cast<uint16_t>(
                    section.data[i] << 8 | (i + 1 < section.data.size() ? section.data[i + 1] : 0));
                uint16_t word = 0;
                ASSERT_EQ(
                    Zerik_ReadDspUshort(dev_, dsp, static_cast<uint16_t>(base + i / 2), &word),
                    kOk);
                ASSERT_EQ(word, expected) << "word " << i / 2;
            }
        }
    }
    // The reset sequence's last writes stay in the registers.
    EXPECT_EQ(scanner.register_byte(0xC019), 0x03);
    EXPECT_EQ(scanner.register_byte(0xC02C), 0x02);
}

INSTANTIATE_TEST_SUITE_P(Monitor, StoppedDsps,
                         ::testing::Values(StoppedCase{"Both", "stopped"},
                                           StoppedCase{"Dsp1Only", "stopped1"}),
                         [](const ::testing::TestParamInfo<StoppedCase>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(Monitor, DeviceTypeZeroIsTallon) {
    Start({"--dev-type", "0"});
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_GE(Find(Lines(), ConnectedLine("TALLON")), 0);
    EXPECT_EQ(dev_->DevType.load(), 0);
}

TEST_F(Monitor, TypeQueryTimeOutKeepsTheTypeAndGoesOn) {
    sim::Scanner& scanner = Start({"--dev-type", "7"});
    scanner.Control("drop 1");  // the type query is the first command after the pipe test
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::vector<std::string> lines = Lines();
    const long timeout = Find(lines, Gbk("WaitForSingleObject超时\n"));
    ASSERT_GE(timeout, 0);
    EXPECT_EQ(Find(lines, ConnectedLine("TALLON")), timeout + 1);
    EXPECT_EQ(dev_->DevType.load(), 0);
}

TEST_F(Monitor, MissingFirmwareFailsBothLoadsButTheLinkStays) {
    setenv("ZERIK_SYSTEM_DIR", dir().c_str(), 1);  // no drivers/zerik_dsp.out here
    sim::Scanner& scanner = Start({"--dsp", "stopped"});
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::vector<std::string> lines = Lines();
    const long failed0 = Find(lines, Gbk("加载DSP0失败\n"));
    EXPECT_GE(failed0, 0);
    EXPECT_GT(Find(lines, Gbk("加载DSP1失败\n")), failed0);
    EXPECT_FALSE(scanner.dsp_running(0));
    EXPECT_EQ(dev_->Connected.load(), 1);
    uint8_t leds = 0;
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC005, 1, &leds), kOk);
}

TEST(FirmwarePath, IsBelowTheSystemDirectoryAndNeverTooLong) {
    setenv("ZERIK_SYSTEM_DIR", "/opt/zerik", 1);
    EXPECT_EQ(FirmwarePath(), "/opt/zerik/drivers/zerik_dsp.out");
    const std::string longest(260 - 1 - 22, 'd');
    setenv("ZERIK_SYSTEM_DIR", ("/" + longest.substr(1)).c_str(), 1);
    EXPECT_EQ(FirmwarePath().size(), 259u);
    setenv("ZERIK_SYSTEM_DIR", ("/" + longest).c_str(), 1);
    EXPECT_EQ(FirmwarePath(), "");
}

TEST_F(Monitor, UnplugAndPlugBringTheDeviceUpAgainWithoutANewOpen) {
    sim::Scanner& scanner = Start();
    ASSERT_NO_FATAL_FAILURE(Open());
    sim_->Control("unplug");
    ASSERT_TRUE(
        WaitFor([&] { return dev_->Connected.load() == 0; }, std::chrono::milliseconds(3000)));
    uint16_t word = 0;
    uint8_t byte = 0;
    EXPECT_EQ(Zerik_ReadDspUshort(dev_, 0, 0x7F80, &word), kNotConnected);
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC005, 1, &byte), kNotConnected);
    EXPECT_EQ(Zerik_SendKeepAlive(dev_, 200), kNotConnected);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // a few failed attempts
    EXPECT_GE(CapturedLog::Instance().Count(Gbk("打开设备失败\n")), 1);

    // Power went with the cable: DSP 0 comes back without firmware.
    scanner.Control("dsp stop 0");
    sim_->Control("plug");
    ASSERT_TRUE(WaitFor(
        [] {
            return CapturedLog::Instance().Count(RunningLine(coff::kDefaultFirmwareVersion)) == 1;
        },
        std::chrono::milliseconds(8000)));
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(CapturedLog::Instance().Count(Gbk("设备已断开\n")), 1);
    EXPECT_EQ(CapturedLog::Instance().Count(ConnectedLine("ZERIK2")), 2);
    EXPECT_EQ(CapturedLog::Instance().Count(Gbk("加载DSP0成功\n")), 1);
    EXPECT_EQ(CapturedLog::Instance().Count(Gbk("加载DSP1成功\n")), 1);
    EXPECT_TRUE(scanner.dsp_running(0));
    EXPECT_EQ(Zerik_ReadDspUshort(dev_, 0, 0x7F80, &word), kOk);
    EXPECT_EQ(word, coff::kDefaultFirmwareVersion);
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC005, 1, &byte), kOk);
}

TEST_F(Monitor, KeepsTheLinkAliveAndClosingSendsZeroTwice) {
    sim::Scanner& scanner = Start();
    ASSERT_NO_FATAL_FAILURE(Open());
    // One per pass of 500 ms, later while other exchanges hold "MsgMutex".
    const int before = scanner.keep_alives();
    EXPECT_TRUE(WaitFor([&] { return scanner.keep_alives() - before >= 3; }));
    EXPECT_EQ(scanner.last_keep_alive(), 200);
    Zerik_CloseDevice(dev_);
    dev_ = nullptr;
    int zeros = 0;
    for (const std::vector<uint8_t>& packet : scanner.packets()) {
        if (packet == std::vector<uint8_t>{0x0A, 0x00, 0x02, 0x00, 0x00}) ++zeros;
    }
    EXPECT_EQ(zeros, 2) << "from the close and from the ending monitor";
    EXPECT_EQ(CountOf(Log(), Gbk("DevMonThread 线程退出\n")), 1);
}

// The monitor's commands on a linked context without a monitor.
class MonitorCommands : public LinkFixture {};

TEST_F(MonitorCommands, KeepAliveSendsTheLowSixteenBitsWithoutWaiting) {
    ScriptedDevice& device = LinkScripted();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Zerik_SendKeepAlive(dev_, 0x7FFF1234), kOk);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    ASSERT_TRUE(WaitFor([&] { return device.Packets().size() == 1; }));
    EXPECT_EQ(device.Packets()[0], (Bytes{0x0A, 0x00, 0x02, 0x34, 0x12}));
}

TEST_F(MonitorCommands, KeepAliveChecks) {
    LinkScripted();
    EXPECT_EQ(Zerik_SendKeepAlive(nullptr, 200), kBadArgument);
    dev_->Connected.store(0);
    EXPECT_EQ(Zerik_SendKeepAlive(dev_, 200), kNotConnected);
    dev_->Connected.store(1);
    sim_->Unplug();  // the write fails
    EXPECT_TRUE(WaitFor([this] { return Zerik_SendKeepAlive(dev_, 200) == kDeviceFailure; }));
    dev_->DropDriver();
    EXPECT_EQ(Zerik_SendKeepAlive(dev_, 200), kDeviceFailure);
}

TEST_F(MonitorCommands, ResetDspWritesTheFourRegistersWithTheirPauses) {
    auto scanner = std::make_unique<sim::Scanner>();
    sim::Scanner* raw = scanner.get();
    Link(std::move(scanner));
    EXPECT_EQ(Zerik_ResetDsp(nullptr), kBadArgument);
    dev_->Connected.store(0);
    EXPECT_EQ(Zerik_ResetDsp(dev_), kNotConnected);
    dev_->Connected.store(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Zerik_ResetDsp(dev_), kOk);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    const std::vector<Bytes> expected = {
        {0x02, 0x00, 0x04, 0x19, 0xC0, 0x01, 0x00},
        {0x02, 0x00, 0x04, 0x2C, 0xC0, 0x01, 0x01},
        {0x02, 0x00, 0x04, 0x19, 0xC0, 0x01, 0x03},
        {0x02, 0x00, 0x04, 0x2C, 0xC0, 0x01, 0x02},
    };
    EXPECT_EQ(raw->packets(), expected);
    EXPECT_FALSE(raw->dsp_running(0));
    EXPECT_FALSE(raw->dsp_running(1));
}

TEST_F(MonitorCommands, DevTypeQuery) {
    ScriptedDevice& device = LinkScripted();
    int32_t type = -1;
    EXPECT_EQ(Zerik_GetDevType(nullptr, &type), kBadArgument);
    dev_->Connected.store(0);
    EXPECT_EQ(Zerik_GetDevType(dev_, &type), kNotConnected);
    dev_->Connected.store(1);

    device.Answer({Msg({0x13, 0x00, 0x02, 0x05, 0xC8})});
    EXPECT_EQ(Zerik_GetDevType(dev_, &type), kOk);
    EXPECT_EQ(type, 0xC8);
    EXPECT_EQ(device.Packets().back(), (Bytes{0x13, 0x00, 0x00}));

    type = -1;
    EXPECT_EQ(Zerik_GetDevType(dev_, &type), kNoReply);  // nothing left to answer with
    EXPECT_EQ(type, -1);
    EXPECT_EQ(CapturedLog::Instance().Count("Zerik_GetDevType\n"), 2);
    EXPECT_EQ(CapturedLog::Instance().Count(Gbk("WaitForSingleObject超时\n")), 1);

    dev_->DropDriver();
    EXPECT_EQ(Zerik_GetDevType(dev_, &type), kDeviceFailure);
}

}  // namespace
}  // namespace zerik::test
