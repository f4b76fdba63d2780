#include "scanner.h"
#include "sim_fixture.h"
#include "texts.h"
#include "transport.h"

namespace zerik {
namespace {

using test::CountOf;
using test::Gbk;

class TransportTest : public test::SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        dev_ = std::make_unique<DeviceContext>();
        dev_->Log = LibraryLog;
    }
    void TearDown() override {
        dev_.reset();
        SimFixture::TearDown();
    }
    sim::Scanner& ScannerOf(sim::Simulator& sim) {
        return dynamic_cast<sim::Scanner&>(sim.device());
    }
    std::unique_ptr<DeviceContext> dev_;
};

TEST_F(TransportTest, NoScannerFailsWithOneOpenFailedLine) {
    EXPECT_FALSE(OpenDriverPipes(dev_.get()));
    EXPECT_EQ(dev_->Driver(), nullptr);
    EXPECT_EQ(CountOf(Log(), Gbk("打开设备失败\n")), 1);
}

TEST_F(TransportTest, FirstPathThatOpensIsUsed) {
    auto& on5 = StartSim(5);
    auto& on7 = StartSim(7);
    ASSERT_TRUE(OpenDriverPipes(dev_.get()));
    EXPECT_NE(dev_->Driver(), nullptr);
    EXPECT_TRUE(test::WaitFor([&] { return on5.LinkCount() == 1; }));
    EXPECT_EQ(on7.LinkCount(), 0);
    EXPECT_EQ(ScannerOf(on5).pipe_tests(), 1);
    EXPECT_EQ(CountOf(Log(), Gbk("USB Pipe 测试成功\n")), 1);
    EXPECT_EQ(CountOf(Log(), Gbk("打开设备失败")), 0);
}

TEST_F(TransportTest, AlreadyConnectedReturnsAtOnce) {
    dev_->Connected.store(1);
    EXPECT_TRUE(OpenDriverPipes(dev_.get()));
    EXPECT_EQ(dev_->Driver(), nullptr);
    EXPECT_EQ(Log(), "");
}

struct PipeTestCase {
    const char* answer;
    bool linked;
    int tries;
    const char* line;  // UTF-8; written once
};

void PrintTo(const PipeTestCase& c, std::ostream* os) { *os << c.answer; }

class PipeTestAnswers : public TransportTest,
                        public ::testing::WithParamInterface<PipeTestCase> {};

TEST_P(PipeTestAnswers, DecideTheConnectionAttempt) {
    const PipeTestCase& c = GetParam();
    auto& sim = StartSim(0);
    ASSERT_EQ(sim.Control(std::string("pipetest ") + c.answer), std::string("pipetest ") + c.answer);
    EXPECT_EQ(OpenDriverPipes(dev_.get()), c.linked);
    EXPECT_EQ(ScannerOf(sim).pipe_tests(), c.tries);
    EXPECT_EQ(CountOf(Log(), Gbk(c.line)), 1) << Log();
    EXPECT_EQ(CountOf(Log(), "]: "), 1) << "one line per attempt";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PipeTestAnswers,
    ::testing::Values(PipeTestCase{"right", true, 1, "USB Pipe 测试成功\n"},
                      PipeTestCase{"wrong", false, 3, "MsgPipe 测试失败2\n"},
                      PipeTestCase{"short", false, 3, "MsgPipe 测试失败2\n"},
                      PipeTestCase{"silent", false, 1, "MsgPipe 测试失败1\n"}),
    [](const auto& param_info) { return std::string(param_info.param.answer); });

TEST_F(TransportTest, ReadOnAClosedLinkFailsAtOnce) {
    auto& sim = StartSim(0);
    ASSERT_TRUE(OpenDriverPipes(dev_.get()));
    auto device = dev_->Driver();
    sim.Unplug();
    uint8_t buffer[64];
    uint32_t length = sizeof buffer;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(PipeRead(device.get(), kMessagePipe, buffer, &length, 20000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(TransportTest, ReadTimesOutWhenNothingComes) {
    StartSim(0);
    ASSERT_TRUE(OpenDriverPipes(dev_.get()));
    auto device = dev_->Driver();
    uint8_t buffer[64];
    uint32_t length = sizeof buffer;
    EXPECT_FALSE(PipeRead(device.get(), 2, buffer, &length, 50));
    EXPECT_EQ(length, sizeof buffer) << "length is untouched on failure";
}

TEST_F(TransportTest, WriteOfNothingIsAFailure) {
    StartSim(0);
    ASSERT_TRUE(OpenDriverPipes(dev_.get()));
    auto device = dev_->Driver();
    const uint8_t packet[3] = {0, 0, 0};
    EXPECT_FALSE(PipeWrite(device.get(), kCommandPipe, packet, 0, kPipeTimeoutMs));
    EXPECT_TRUE(PipeWrite(device.get(), kCommandPipe, packet, 3, kPipeTimeoutMs));
    EXPECT_FALSE(PipeWrite(device.get(), kMessagePipe, packet, 3, kPipeTimeoutMs))
        << "only pipe 0 goes to the device";
}

TEST_F(TransportTest, ReadReportsTheCountReceived) {
    StartSim(0);
    ASSERT_TRUE(OpenDriverPipes(dev_.get()));
    auto device = dev_->Driver();
    const uint8_t packet[3] = {0, 0, 0};
    ASSERT_TRUE(PipeWrite(device.get(), kCommandPipe, packet, 3, kPipeTimeoutMs));
    uint8_t buffer[200] = {};
    uint32_t length = sizeof buffer;
    ASSERT_TRUE(PipeRead(device.get(), kMessagePipe, buffer, &length, 2000));
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(buffer[63], 63);
}

TEST_F(TransportTest, NullDeviceFailsBothPrimitives) {
    uint8_t buffer[4] = {};
    uint32_t length = sizeof buffer;
    EXPECT_FALSE(PipeRead(nullptr, kMessagePipe, buffer, &length, 10));
    EXPECT_FALSE(PipeWrite(nullptr, kCommandPipe, buffer, 3, 10));
}

}  // namespace
}  // namespace zerik
