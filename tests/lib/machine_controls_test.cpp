// Machine controls against a scripted device: the packets byte for byte,
// the reply fields, the log lines, the register read-modify-writes and the
// normalisation state table.
#include "machine_controls.h"

#include <string>
#include <vector>

#include "link_fixture.h"
#include "zerik_dll.h"

namespace zerik::test {
namespace {

const char kTimeout[] = "WaitForSingleObject\xB3\xAC\xCA\xB1\n";  // "...超时\n" in GBK

// A reply message: the command code, then `data` from byte 3.
Bytes ReplyWith(uint8_t code, std::initializer_list<uint8_t> data) {
    Bytes msg(64, 0);
    msg[0] = code;
    std::size_t i = 3;
    for (uint8_t b : data) msg[i++] = b;
    return msg;
}

// Reply to a register read or write: `data` from byte 6.
Bytes RegisterReply(uint8_t code, std::initializer_list<uint8_t> data) {
    Bytes msg(64, 0);
    msg[0] = code;
    std::size_t i = 6;
    for (uint8_t b : data) msg[i++] = b;
    return msg;
}

std::string Text(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('A' + i % 26));
    return text;
}

class MachineControls : public LinkFixture {
  protected:
    // Links the scripted device and lets the receiver's start line pass.
    ScriptedDevice& Start() {
        ScriptedDevice& device = LinkScripted();
        EXPECT_TRUE(WaitFor(
            [] { return CapturedLog::Instance().Count(Gbk("MsgRcvThread  线程启动\n")) == 1; }));
        CapturedLog::Instance().Clear();
        return device;
    }
};

struct PacketCase {
    const char* name;
    std::function<int32_t(DeviceContext*)> call;
    Bytes packet;
    std::vector<std::string> log;
};

TEST_F(MachineControls, SendTheirPacketsAndLogTheirEntryLines) {
    static const uint8_t identity[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const std::string fifty = Text(50);
    const std::vector<PacketCase> cases = {
        {"StartScan", Zerik_StartScan, {0x08, 0x00, 0x01, 0x01}, {"Zerik_StartScan\n"}},
        {"StopScan", Zerik_StopScan, {0x08, 0x00, 0x01, 0x00}, {}},
        {"ResetTH", Zerik_ResetTH, {0x09, 0x00, 0x01, 0x00}, {}},
        {"AdjustSensor", Zerik_AdjustSensor, {0x09, 0x00, 0x01, 0x01}, {"Zerik_AdjustSensor\n"}},
        {"SetScanPapers 100",
         [](DeviceContext* d) { return Zerik_SetScanPapers(d, 3, 100); },
         {0x0B, 0x00, 0x04, 0x00, 0x03, 0x00, 0x00},
         {"Zerik_SetScanPapers:3 100\n"}},
        {"SetScanPapers 101",
         [](DeviceContext* d) { return Zerik_SetScanPapers(d, 3, 101); },
         {0x0B, 0x00, 0x04, 0x00, 0x03, 0x65, 0x00},
         {"Zerik_SetScanPapers:3 101\n"}},
        {"SetScanPapers negative",
         [](DeviceContext* d) { return Zerik_SetScanPapers(d, 0x1FF, -5); },
         {0x0B, 0x00, 0x04, 0x00, 0xFF, 0x00, 0x00},
         {"Zerik_SetScanPapers:511 -5\n"}},
        {"SetScanPapers word",
         [](DeviceContext* d) { return Zerik_SetScanPapers(d, 1, 0x1234); },
         {0x0B, 0x00, 0x04, 0x00, 0x01, 0x34, 0x12},
         {"Zerik_SetScanPapers:1 4660\n"}},
        {"SetCheckPaperTH",
         [](DeviceContext* d) { return Zerik_SetCheckPaperTH(d, 0x107); },
         {0x0B, 0x00, 0x02, 0x01, 0x07},
         {"Zerik_SetCheckPaperTH:263\n"}},
        {"SetPaperType",
         [](DeviceContext* d) { return Zerik_SetPaperType(d, 2); },
         {0x0B, 0x00, 0x02, 0x02, 0x02},
         {"Zerik_SetPaperType:2\n"}},
        {"SetSortType",
         [](DeviceContext* d) { return Zerik_SetSortType(d, 3); },
         {0x0B, 0x00, 0x02, 0x03, 0x03},
         {"Zerik_SetSortType 3\n"}},
        {"BurnDeviceType",
         [](DeviceContext* d) { return Zerik_BurnDeviceType(d, 1); },
         {0x0B, 0x00, 0x02, 0x04, 0x01},
         {"Zerik_BurnDeviceType 1\n"}},
        {"SortPaper 0",
         [](DeviceContext* d) { return Zerik_SortPaper(d, 0); },
         {0x17, 0x00, 0x01, 0x01},
         {"Zerik_SortPaper 0\n"}},
        {"SortPaper 5",
         [](DeviceContext* d) { return Zerik_SortPaper(d, 5); },
         {0x17, 0x00, 0x01, 0x00},
         {"Zerik_SortPaper 5\n"}},
        {"PrinterCtrl on",
         [](DeviceContext* d) { return Zerik_PrinterCtrl(d, 1, "AB"); },
         {0x15, 0x00, 0x04, 0x01, 'A', 'B', 0x00},
         {"Zerik_PrinterCtrl\n"}},
        {"PrinterCtrl off without text",
         [](DeviceContext* d) { return Zerik_PrinterCtrl(d, 0, nullptr); },
         {0x15, 0x00, 0x01, 0x00},
         {"Zerik_PrinterCtrl\n"}},
        {"PrinterCtrl off with text",
         [](DeviceContext* d) { return Zerik_PrinterCtrl(d, 0, "AB"); },
         {0x15, 0x00, 0x01, 0x00},
         {"Zerik_PrinterCtrl\n"}},
        {"LcdCtrl",
         [](DeviceContext* d) { return Zerik_LcdCtrl(d, 0x102, "Hi"); },
         {0x16, 0x00, 0x04, 0x02, 'H', 'i', 0x00},
         {"Zerik_LcdCtrl\n"}},
        {"LcdCtrl empty",
         [](DeviceContext* d) { return Zerik_LcdCtrl(d, 1, ""); },
         {0x16, 0x00, 0x02, 0x01, 0x00},
         {"Zerik_LcdCtrl\n"}},
        {"BurnDeviceVIDPID",
         [](DeviceContext* d) { return Zerik_BurnDeviceVIDPID(d, identity); },
         {0x18, 0x00, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
         {"Zerik_BurnDeviceVIDPID:\n", "pc out_msg.buf[0]=11\n", "pc out_msg.buf[1]=22\n",
          "pc out_msg.buf[2]=33\n", "pc out_msg.buf[3]=44\n", "pc out_msg.buf[4]=55\n",
          "pc out_msg.buf[5]=66\n", "pc out_msg.buf[6]=77\n", "pc out_msg.buf[7]=88\n",
          "51 inmsg.buf[0]=0\n", "51 inmsg.buf[1]=0\n", "51 inmsg.buf[2]=0\n",
          "51 inmsg.buf[3]=0\n", "51 inmsg.buf[4]=0\n", "51 inmsg.buf[5]=0\n",
          "51 inmsg.buf[6]=0\n", "51 inmsg.buf[7]=0\n"}},
    };
    ScriptedDevice& device = Start();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        CapturedLog::Instance().Clear();
        device.Answer({ReplyWith(cases[i].packet[0], {})});
        EXPECT_EQ(cases[i].call(dev_), 0);
        const auto packets = device.Packets();
        ASSERT_EQ(packets.size(), i + 1);
        EXPECT_EQ(packets.back(), cases[i].packet);
        EXPECT_EQ(CapturedLog::Instance().Texts(), cases[i].log);
    }

    // A text of 50 characters is the longest taken.
    CapturedLog::Instance().Clear();
    device.Answer({ReplyWith(0x15, {})});
    EXPECT_EQ(Zerik_PrinterCtrl(dev_, 1, fifty.c_str()), 0);
    Bytes printed = {0x15, 0x00, 52, 0x01};
    printed.insert(printed.end(), fifty.begin(), fifty.end());
    printed.push_back(0);
    EXPECT_EQ(device.Packets().back(), printed);
}

TEST_F(MachineControls, TakeTheirResultsFromTheReply) {
    ScriptedDevice& device = Start();

    device.Answer({ReplyWith(0x13, {0xC5, 0x01})});
    int32_t state = -1;
    EXPECT_EQ(Zerik_GetMcState(dev_, &state), 0);
    EXPECT_EQ(state, 0xC5);
    EXPECT_EQ(device.Packets().back(), (Bytes{0x13, 0x00, 0x00}));
    EXPECT_EQ(CapturedLog::Instance().Texts(), std::vector<std::string>{"Zerik_GetMcState\n"});

    Bytes sensors(64, 0);
    sensors[0] = 0x07;
    for (int i = 0; i < 16; ++i) {
        sensors[3 + 2 * i] = static_cast<uint8_t>(i * 17);
        sensors[4 + 2 * i] = static_cast<uint8_t>(i == 15 ? 0xFF : i);
    }
    device.Answer({sensors});
    int32_t values[16] = {};
    EXPECT_EQ(Zerik_ReadSensorValue(dev_, values), 0);
    EXPECT_EQ(device.Packets().back(), (Bytes{0x07, 0x00, 0x00}));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(values[i], i * 17 + 256 * (i == 15 ? 0xFF : i)) << i;

    CapturedLog::Instance().Clear();
    device.Answer({ReplyWith(0x19, {0xDE, 0xAD, 0xBE, 0xEF})});
    uint8_t eeprom[3] = {};
    EXPECT_EQ(Zerik_ReadE2prom(dev_, 3, 0x110, eeprom), 0);
    EXPECT_EQ(device.Packets().back(), (Bytes{0x19, 0x00, 0x02, 0x03, 0x10}));
    EXPECT_EQ(eeprom[0], 0xDE);
    EXPECT_EQ(eeprom[2], 0xBE);
    EXPECT_EQ(CapturedLog::Instance().Texts(),
              (std::vector<std::string>{"51 readbuf[0]=DE\n", "51 readbuf[1]=AD\n",
                                        "51 readbuf[2]=BE\n"}));

    CapturedLog::Instance().Clear();
    device.Answer({ReplyWith(0x18, {9, 8, 7, 6, 5, 4, 3, 0xA2})});
    const uint8_t identity[8] = {};
    EXPECT_EQ(Zerik_BurnDeviceVIDPID(dev_, identity), 0);
    const auto lines = CapturedLog::Instance().Texts();
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[9], "51 inmsg.buf[0]=9\n");
    EXPECT_EQ(lines[16], "51 inmsg.buf[7]=A2\n");
}

TEST_F(MachineControls, RefuseBadTextsAndArgumentsWithoutSending) {
    ScriptedDevice& device = Start();
    const std::string long_text = Text(51);
    EXPECT_EQ(Zerik_PrinterCtrl(dev_, 1, long_text.c_str()), -1);
    EXPECT_EQ(Zerik_PrinterCtrl(dev_, 0, long_text.c_str()), -1);
    EXPECT_EQ(Zerik_PrinterCtrl(dev_, 1, nullptr), -1);
    EXPECT_EQ(Zerik_LcdCtrl(dev_, 0, long_text.c_str()), -1);
    EXPECT_EQ(Zerik_LcdCtrl(dev_, 0, nullptr), -1);
    EXPECT_EQ(Zerik_GetMcState(dev_, nullptr), -1);
    EXPECT_EQ(Zerik_ReadSensorValue(dev_, nullptr), -1);
    EXPECT_EQ(Zerik_BurnDeviceVIDPID(dev_, nullptr), -1);
    uint8_t out[64] = {};
    EXPECT_EQ(Zerik_ReadE2prom(dev_, 62, 0, out), -1);
    EXPECT_EQ(Zerik_ReadE2prom(dev_, 1, 0, nullptr), -1);
    EXPECT_EQ(Zerik_StartNormAction(dev_, 1, 0), -1);
    EXPECT_TRUE(device.Packets().empty());
    EXPECT_TRUE(CapturedLog::Instance().Texts().empty());
    EXPECT_EQ(Zerik_StartNormAction(nullptr, 1, 1), -1);
    int32_t out_value = 7;
    EXPECT_EQ(Zerik_NormStatusCheck(nullptr, &out_value), -1);
    EXPECT_EQ(out_value, 7);
}

TEST_F(MachineControls, NotConnectedOrNullContext) {
    ScriptedDevice& device = Start();
    dev_->Connected.store(0);
    int32_t value = 0;
    int32_t values[16] = {};
    uint8_t bytes[8] = {};
    const std::vector<std::function<int32_t(DeviceContext*)>> calls = {
        Zerik_StartScan,
        Zerik_StopScan,
        Zerik_ResetTH,
        Zerik_AdjustSensor,
        [](DeviceContext* d) { return Zerik_SetScanPapers(d, 1, 0); },
        [](DeviceContext* d) { return Zerik_SetCheckPaperTH(d, 1); },
        [](DeviceContext* d) { return Zerik_SetPaperType(d, 1); },
        [](DeviceContext* d) { return Zerik_SetSortType(d, 1); },
        [](DeviceContext* d) { return Zerik_BurnDeviceType(d, 1); },
        [](DeviceContext* d) { return Zerik_SortPaper(d, 1); },
        [&](DeviceContext* d) { return Zerik_GetMcState(d, &value); },
        [&](DeviceContext* d) { return Zerik_ReadSensorValue(d, values); },
        [](DeviceContext* d) { return Zerik_PrinterCtrl(d, 1, "x"); },
        [](DeviceContext* d) { return Zerik_LcdCtrl(d, 1, "x"); },
        [&](DeviceContext* d) { return Zerik_BurnDeviceVIDPID(d, bytes); },
        [&](DeviceContext* d) { return Zerik_ReadE2prom(d, 1, 0, bytes); },
        [](DeviceContext* d) { return Zerik_MotorCtrl(d, 1, 1, 1); },
        [](DeviceContext* d) { return Zerik_FmCtrl(d, 1); },
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i](dev_), -3) << i;
        EXPECT_EQ(calls[i](nullptr), -1) << i;
    }
    EXPECT_TRUE(device.Packets().empty());
    // Start and adjust log their line before the connected check.
    EXPECT_EQ(CapturedLog::Instance().Texts(),
              (std::vector<std::string>{"Zerik_StartScan\n", "Zerik_AdjustSensor\n"}));
}

TEST_F(MachineControls, TimeOutsLogExceptTheSensorRead) {
    ScriptedDevice& device = Start();
    device.Answer({});
    EXPECT_EQ(Zerik_StopScan(dev_), -2);
    EXPECT_EQ(CapturedLog::Instance().Texts(), std::vector<std::string>{kTimeout});
    CapturedLog::Instance().Clear();
    device.Answer({});
    int32_t values[16] = {};
    EXPECT_EQ(Zerik_ReadSensorValue(dev_, values), -2);
    EXPECT_TRUE(CapturedLog::Instance().Texts().empty());
}

struct MotorCase {
    int32_t motor, high, low;
    uint8_t enable_before;  // 0xC01D
    uint8_t bits_before;    // 0xC01B
    int enable_after;       // -1: 0xC01D untouched
    int bits_after;         // -1: 0xC01B not written
};

TEST_F(MachineControls, MotorAndFmReadModifyWrite) {
    const MotorCase cases[] = {
        {1, 1, 0, 0x00, 0xFF, 0x04, 0xFB}, {0, 0, 0, 0x00, 0x00, 0x02, 0x01},
        {0, 1, 1, 0x08, 0xFF, 0x0A, 0xFE}, {2, 1, 1, 0x02, 0x00, 0x0A, 0x30},
        {2, 0, 0, 0x00, 0xFF, 0x08, 0xCF}, {1, 0, 1, 0x04, 0x80, 0x04, 0x84},
        {3, 1, 1, 0x00, 0x55, -1, -1},
    };
    ScriptedDevice& device = Start();
    for (const MotorCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "motor " << c.motor << " high " << c.high << " low "
                                        << c.low << " bits " << int{c.bits_before});
        const std::size_t before = device.Packets().size();
        std::vector<Bytes> expected;
        if (c.enable_after >= 0) {
            device.Answer({RegisterReply(0x01, {c.enable_before})});
            device.Answer({RegisterReply(0x02, {static_cast<uint8_t>(c.enable_after)})});
            expected.push_back({0x01, 0x00, 0x03, 0x1D, 0xC0, 0x01});
            expected.push_back(
                {0x02, 0x00, 0x04, 0x1D, 0xC0, 0x01, static_cast<uint8_t>(c.enable_after)});
        }
        device.Answer({RegisterReply(0x01, {c.bits_before})});
        expected.push_back({0x01, 0x00, 0x03, 0x1B, 0xC0, 0x01});
        if (c.bits_after >= 0) {
            device.Answer({RegisterReply(0x02, {static_cast<uint8_t>(c.bits_after)})});
            expected.push_back(
                {0x02, 0x00, 0x04, 0x1B, 0xC0, 0x01, static_cast<uint8_t>(c.bits_after)});
        }
        EXPECT_EQ(Zerik_MotorCtrl(dev_, c.motor, c.high, c.low), 0);
        const auto packets = device.Packets();
        EXPECT_EQ(std::vector<Bytes>(packets.begin() + static_cast<std::ptrdiff_t>(before),
                                     packets.end()),
                  expected);
    }

    // FM: bit 7 only.
    struct FmCase {
        int32_t on;
        uint8_t before, after;
    };
    for (const FmCase& c : {FmCase{1, 0x41, 0xC1}, FmCase{0, 0xC1, 0x41}, FmCase{0, 0x7F, 0x7F}}) {
        device.Answer({RegisterReply(0x01, {c.before})});
        device.Answer({RegisterReply(0x02, {c.after})});
        EXPECT_EQ(Zerik_FmCtrl(dev_, c.on), 0);
        EXPECT_EQ(device.Packets().back(), (Bytes{0x02, 0x00, 0x04, 0x1B, 0xC0, 0x01, c.after}));
    }

    // A write the device does not echo fails the call.
    device.Answer({RegisterReply(0x01, {0x00})});
    device.Answer({RegisterReply(0x02, {0x00})});
    EXPECT_EQ(Zerik_FmCtrl(dev_, 1), -100);
}

TEST_F(MachineControls, NormalisationStateTable) {
    Start();
    struct Case {
        int32_t s0, s1;
        int32_t result, out;
        int32_t s0_after, s1_after;
    };
    const Case cases[] = {
        {3, 3, 1, 1, 0, 0}, {4, 3, 1, 0, 0, 0}, {3, 4, 1, 0, 0, 0}, {4, 1, 1, 0, 0, 0},
        {0, 4, 1, 0, 0, 0}, {3, 1, 1, 1, 0, 0}, {1, 3, 0, 0, 1, 3}, {1, 1, 0, 0, 1, 1},
        {0, 0, 0, 0, 0, 0}, {3, 0, 0, 0, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s0 << "," << c.s1);
        dev_->NormState[0].store(c.s0);
        dev_->NormState[1].store(c.s1);
        int32_t out = 9;
        EXPECT_EQ(Zerik_NormStatusCheck(dev_, &out), c.result);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(dev_->NormState[0].load(), c.s0_after);
        EXPECT_EQ(dev_->NormState[1].load(), c.s1_after);
    }
}

TEST_F(MachineControls, NormEventsEndOnlyAStartedAction) {
    Start();
    NoteNormEvent(dev_, 0x000B);
    EXPECT_EQ(dev_->NormState[0].load(), 0);  // no action under way
    dev_->NormState[0].store(1);
    dev_->NormState[1].store(1);
    NoteNormEvent(dev_, 0x0002);  // a scan-end event is not one of them
    EXPECT_EQ(dev_->NormState[0].load(), 1);
    NoteNormEvent(dev_, 0x000B);
    NoteNormEvent(dev_, 0x010C);
    EXPECT_EQ(dev_->NormState[0].load(), 3);
    EXPECT_EQ(dev_->NormState[1].load(), 4);
    int32_t out = 9;
    EXPECT_EQ(Zerik_NormStatusCheck(dev_, &out), 1);
    EXPECT_EQ(out, 0);
}

}  // namespace
}  // namespace zerik::test
