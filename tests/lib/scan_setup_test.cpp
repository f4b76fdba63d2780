// Scan set-up against the simulated scanner: what lands in its registers,
// DSP words and DSP tables, and the packets that put it there.
#include <string>
#include <vector>

#include "link_fixture.h"
#include "scan_setup.h"
#include "scanner.h"
#include "zerik_dll.h"

namespace zerik::test {
namespace {

using sim::FlashChip;

class ScanSetup : public LinkFixture {
protected:
    // Links a context to a simulated scanner of the given type.
    sim::Scanner& LinkScanner(int32_t dev_type = 0, std::vector<std::string> options = {}) {
        std::string error;
        auto device = sim::MakeScanner(options, &error);
        EXPECT_NE(device, nullptr) << error;
        Link(std::move(device));
        dev_->DevType.store(dev_type);
        // Let the receiver's start line pass before the test reads the log.
        EXPECT_TRUE(WaitFor([] {
            return CapturedLog::Instance().Count(Gbk("MsgRcvThread  线程启动\n")) == 1;
        }));
        CapturedLog::Instance().Clear();
        return static_cast<sim::Scanner&>(sim_->device());
    }

    sim::Scanner& scanner() { return static_cast<sim::Scanner&>(sim_->device()); }

    uint16_t Register16(uint16_t address) {
        return static_cast<uint16_t>(scanner().register_byte(address) |
                                     scanner().register_byte(address + 1) << 8);
    }

    // Packets the host wrote from index `from` on.
    std::vector<Bytes> PacketsSince(std::size_t from) {
        const auto all = scanner().packets();
        return std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
    }

    void ExpectCoefficients(int dsp, uint16_t address, int page) {
        SCOPED_TRACE(testing::Message() << "DSP " << dsp << " page " << page);
        for (int i : {0, 1, 863, 1727}) {
            EXPECT_EQ(scanner().dsp_word(dsp, static_cast<uint16_t>(address + i)),
                      FlashChip::FactoryCoefficient(page, i))
                << i;
        }
    }
};

TEST_F(ScanSetup, Layer1At200DpiWithLed1) {
    sim::Scanner& device = LinkScanner(0);
    const std::size_t before = device.packets().size();
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 0, 0, 0x01), 0);
    const std::vector<Bytes> expected = {
        {0x02, 0x00, 0x04, 0x06, 0xC0, 0x01, 0x09},              // layer mode
        {0x02, 0x00, 0x05, 0x20, 0xC0, 0x02, 0x00, 0x24},        // line length 9216
        {0x02, 0x00, 0x05, 0x22, 0xC0, 0x02, 0x00, 0x24},        //
        {0x12, 0x00, 0x01, 0x00},                                // motor rate 0
        {0x06, 0x00, 0x06, 0x91, 0x7F, 0x01, 0x00, 0x01, 0x00},  // layer word, DSP 0
        {0x06, 0x00, 0x06, 0x91, 0x7F, 0x01, 0x01, 0x01, 0x00},  // DSP 1
        {0x02, 0x00, 0x04, 0x05, 0xC0, 0x01, 0x01},              // LED mask
        {0x01, 0x00, 0x03, 0x05, 0xC0, 0x01},                    // read back
        {0x02, 0x00, 0x05, 0x13, 0xC0, 0x02, 0x8A, 0x02},        // LED 0x01: 650
        {0x01, 0x00, 0x03, 0x13, 0xC0, 0x02},                    // read back
        {0x02, 0x00, 0x05, 0x00, 0xC0, 0x02, 0xD2, 0x03},        // timing 978
        {0x06, 0x00, 0x06, 0x90, 0x7F, 0x01, 0x00, 0xC8, 0x00},  // dpi word, DSP 0
        {0x06, 0x00, 0x06, 0x90, 0x7F, 0x01, 0x01, 0xC8, 0x00},  // DSP 1
        {0x14, 0x00, 0x09, 0x20, 0x00, 0x00, 0x00, 0x00, 0x68, 0x00, 0x00, 0x03},
        {0x14, 0x00, 0x09, 0x20, 0x06, 0x00, 0x00, 0x00, 0x68, 0x01, 0x00, 0x03},
        {0x06, 0x00, 0x06, 0x8D, 0x7F, 0x01, 0x00, 0x00, 0x00},  // switch off, DSP 0
        {0x06, 0x00, 0x06, 0x8D, 0x7F, 0x01, 0x01, 0x00, 0x00},  // DSP 1
    };
    EXPECT_EQ(PacketsSince(before), expected);

    EXPECT_EQ(device.register_byte(0xC006), 0x09);
    EXPECT_EQ(Register16(0xC020), 9216);
    EXPECT_EQ(Register16(0xC022), 9216);
    EXPECT_EQ(device.register_byte(0xC005), 0x01);
    EXPECT_EQ(Register16(0xC013), 650);
    EXPECT_EQ(Register16(0xC000), 978);
    EXPECT_EQ(device.scan().settings().motor_rate, 0);
    for (int dsp = 0; dsp < 2; ++dsp) {
        EXPECT_EQ(device.dsp_word(dsp, 0x7F91), 1);
        EXPECT_EQ(device.dsp_word(dsp, 0x7F90), 200);
        EXPECT_EQ(device.dsp_word(dsp, 0x7F8D), 0);
        // The device's default gamma tables: straight ramps.
        EXPECT_EQ(device.dsp_word(dsp, 0x6800 + 77), 77);
        EXPECT_EQ(device.dsp_word(dsp, 0x6800 + 512 + 255), 255);
    }
    EXPECT_EQ(CapturedLog::Instance().Texts().front(),
              "Zerik_SetScanParams:layer=1 dpi=200 norm_en=0 gamma_en=0 led=1\n");
    EXPECT_EQ(CapturedLog::Instance().Count(
                  "Zerik_LoadGammaTable:IsDefault=1 flash_addr=0x620 dsp_addr=0x6800 dsp_id=1\n"),
              1);
}

struct LedCase {
    int32_t dev_type, layer, dpi, led;
    uint8_t mode, mask;
    uint16_t line_length, timing;
    std::vector<std::pair<uint16_t, uint16_t>> lengths;  // register, value
};

TEST_F(ScanSetup, LayerModesLightTheirLeds) {
    const std::vector<LedCase> cases = {
        {0, 1, 200, 0x03, 0x09, 0x03, 9216, 978, {{0xC013, 325}, {0xC00F, 225}}},
        {0,
         2,
         200,
         0x0F,
         0x0A,
         0x7F,
         2 * 9216,
         976,
         {{0xC013, 162},
          {0xC00F, 112},
          {0xC00B, 87},
          {0xC007, 87},
          {0xC015, 216},
          {0xC011, 150},
          {0xC00D, 116}}},
        {1, 3, 150, 0x07, 0x0C, 0x07, 4989, 732, {{0xC013, 650}, {0xC00F, 450}, {0xC00B, 350}}},
        {1, 3, 150, 0x00, 0x0C, 0x00, 4989, 732, {{0xC013, 650}, {0xC00F, 450}, {0xC00B, 350}}},
        {0, 1, 300, 0x08, 0x09, 0x08, 9216, 978, {{0xC007, 350}}},
        {0, 2, 100, 0x00, 0x0A, 0x00, 2 * 3072, 651, {{0xC015, 216}}},
        {1, 1, 50, 0x04, 0x09, 0x04, 1479, 976, {{0xC00B, 350}}},
        {0, 3, 133, 0x01, 0x0C, 0x07, 3 * 4608, 732, {{0xC00B, 350}}},
    };
    LinkScanner(0);
    for (const LedCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.dev_type << " layer " << c.layer
                                        << " dpi " << c.dpi << " led " << c.led);
        dev_->DevType.store(c.dev_type);
        EXPECT_EQ(Zerik_SetScanParams(dev_, c.layer, c.dpi, 0, 0, c.led), 0);
        EXPECT_EQ(scanner().register_byte(0xC006), c.mode);
        EXPECT_EQ(scanner().register_byte(0xC005), c.mask);
        EXPECT_EQ(Register16(0xC020), c.line_length);
        EXPECT_EQ(Register16(0xC022), c.line_length);
        EXPECT_EQ(Register16(0xC000), c.timing);
        for (const auto& [reg, value] : c.lengths) EXPECT_EQ(Register16(reg), value) << reg;
        EXPECT_EQ(scanner().dsp_word(1, 0x7F91), c.layer);
        EXPECT_EQ(scanner().dsp_word(1, 0x7F90), c.dpi);
    }
}

TEST_F(ScanSetup, MotorRatesFollowTheResolution) {
    LinkScanner(0);
    const std::pair<int32_t, int> rates[] = {{200, 0}, {150, 1}, {133, 2}, {100, 3},
                                             {50, 3},  {300, 0}};
    for (const auto& [dpi, rate] : rates) {
        EXPECT_EQ(Zerik_SetScanParams(dev_, 1, dpi, 0, 0, 1), 0);
        EXPECT_EQ(scanner().scan().settings().motor_rate, rate) << dpi;
    }
}

struct NormCase {
    int32_t layer, led;
    std::vector<int> pages_dsp0, pages_dsp1;
};

TEST_F(ScanSetup, NormalisationPagesGoToTheCoefficientAreas) {
    const std::vector<NormCase> cases = {
        {3, 0x07, {48, 49, 50}, {51, 52, 53}},
        {2, 0x06, {36, 37}, {38, 39}},
        {2, 0x08, {44, 45}, {46, 47}},
        {1, 0x05, {10}, {11}},
    };
    LinkScanner(0);
    for (const NormCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "layer " << c.layer << " led " << c.led);
        EXPECT_EQ(Zerik_SetScanParams(dev_, c.layer, 200, 1, 0, c.led), 0);
        for (int dsp = 0; dsp < 2; ++dsp) {
            const auto& pages = dsp == 0 ? c.pages_dsp0 : c.pages_dsp1;
            for (std::size_t i = 0; i < pages.size(); ++i) {
                ExpectCoefficients(dsp, static_cast<uint16_t>(0x6B00 + i * 1728), pages[i]);
                EXPECT_EQ(NormPage(c.layer, c.led, dsp, static_cast<int>(i)),
                          static_cast<uint32_t>(pages[i]));
            }
            EXPECT_EQ(scanner().dsp_word(dsp, 0x7F8D), 1);
        }
    }
    EXPECT_EQ(CapturedLog::Instance().Count(
                  "Zerik_LoadNormCoff:flash_addr=0x32020 dsp_addr=0x7880 dsp_id=0\n"),
              1);
}

TEST_F(ScanSetup, MissingCoefficients) {
    sim::Scanner& device = LinkScanner(0);
    // Layer 1 under LED 0x10 alone reads pages 0 and 1: page 0 holds the gamma block.
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 1, 0, 0x10), -100);
    EXPECT_EQ(CapturedLog::Instance().Texts().back(), Gbk("!!没有归一化系数 page_idx=0\n"));
    EXPECT_EQ(device.dsp_word(0, 0x7F8D), 0);

    // DSP 1 without its page (3) is skipped: its switch still goes on.
    const std::vector<uint8_t> erased(32, 0xFF);
    device.flash().Store(3 * 4096, erased);
    CapturedLog::Instance().Clear();
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 1, 0, 0x01), 0);
    ExpectCoefficients(0, 0x6B00, 2);
    EXPECT_NE(device.dsp_word(1, 0x6B00), FlashChip::FactoryCoefficient(3, 0));
    EXPECT_EQ(device.dsp_word(1, 0x7F8D), 1);
    EXPECT_EQ(CapturedLog::Instance().Count(Gbk("!!没有归一化系数 page_idx=3\n")), 0);

    // Missing for DSP 0 in layer 2: -100 after the log line, DSP 1 untouched.
    device.flash().Store(36 * 4096, erased);
    EXPECT_EQ(Zerik_SetScanParams(dev_, 2, 200, 1, 0, 0x06), -100);
    EXPECT_EQ(CapturedLog::Instance().Texts().back(), Gbk("!!没有归一化系数 page_idx=36\n"));
}

TEST_F(ScanSetup, GammaTablesFromFlashDefaultOrBuiltIn) {
    sim::Scanner& device = LinkScanner(0);
    // Stored tables: copied from flash into both DSPs.
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 0, 1, 0x01), 0);
    for (int dsp = 0; dsp < 2; ++dsp) {
        for (int layer = 0; layer < 3; ++layer) {
            for (int entry : {0, 1, 100, 255}) {
                EXPECT_EQ(device.dsp_word(dsp, static_cast<uint16_t>(0x6800 + layer * 256 + entry)),
                          FlashChip::FactoryGamma(dsp, layer, entry));
            }
        }
    }
    EXPECT_EQ(CapturedLog::Instance().Count(
                  "Zerik_LoadGammaTable:IsDefault=0 flash_addr=0x620 dsp_addr=0x6800 dsp_id=1\n"),
              1);

    // Built-in table: one layer under LED 0x08 with normalisation, gamma off.
    const std::size_t before = device.packets().size();
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 1, 0, 0x08), 0);
    for (int dsp = 0; dsp < 2; ++dsp) {
        for (int entry = 0; entry < 256; ++entry) {
            ASSERT_EQ(device.dsp_word(dsp, static_cast<uint16_t>(0x6800 + entry)),
                      kBuiltInGamma[static_cast<std::size_t>(entry)])
                << dsp << " " << entry;
        }
    }
    int copies = 0;
    for (const Bytes& p : PacketsSince(before)) copies += p[0] == 0x11 || p[0] == 0x14 ? 1 : 0;
    EXPECT_EQ(copies, 2);  // the coefficients only, no gamma copy
    // The same with gamma on takes the flash path.
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 1, 1, 0x08), 0);
    EXPECT_EQ(device.dsp_word(0, 0x6800 + 100), FlashChip::FactoryGamma(0, 0, 100));

    // Gamma on without the "GAMMA" header: the device's defaults.
    const std::vector<uint8_t> erased(32, 0xFF);
    device.flash().Store(0, erased);
    const std::size_t at = device.packets().size();
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 0, 1, 0x01), 0);
    int defaults = 0;
    for (const Bytes& p : PacketsSince(at)) defaults += p[0] == 0x14 ? 1 : 0;
    EXPECT_EQ(defaults, 2);
    EXPECT_EQ(device.dsp_word(1, 0x6800 + 100), 100);
}

TEST_F(ScanSetup, ExMovesTheDspAddresses) {
    sim::Scanner& device = LinkScanner(0);
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 0, 0, 0x01), 0);
    EXPECT_EQ(Zerik_SetScanParamsEx(dev_, 2, 150, 1, 0, 0x06, 0x7000, 0x17001, 0x7002, 0x2000),
              0);
    for (int dsp = 0; dsp < 2; ++dsp) {
        EXPECT_EQ(device.dsp_word(dsp, 0x7000), 150);
        EXPECT_EQ(device.dsp_word(dsp, 0x7001), 2);  // only the low 16 bits count
        EXPECT_EQ(device.dsp_word(dsp, 0x7002), 1);
        // The defaults keep what the first set-up wrote.
        EXPECT_EQ(device.dsp_word(dsp, 0x7F90), 200);
        EXPECT_EQ(device.dsp_word(dsp, 0x7F91), 1);
    }
    ExpectCoefficients(0, 0x2000, 36);
    ExpectCoefficients(0, 0x2000 + 1728, 37);
    ExpectCoefficients(1, 0x2000, 38);
    EXPECT_EQ(CapturedLog::Instance().Count(
                  "Zerik_SetScanParams:layer=2 dpi=150 norm_en=1 gamma_en=0 led=6\n"),
              1);
    // Zero addresses take the defaults; the off-switch goes to the moved address.
    EXPECT_EQ(Zerik_SetScanParamsEx(dev_, 1, 100, 0, 0, 0x01, 0, 0, 0x7003, 0), 0);
    EXPECT_EQ(device.dsp_word(0, 0x7F90), 100);
    EXPECT_EQ(device.dsp_word(0, 0x7003), 0);
    EXPECT_EQ(device.dsp_word(0, 0x7002), 1);
}

TEST_F(ScanSetup, LightLengthThatReadsBackWrongFails) {
    sim::Scanner& device = LinkScanner(0);
    EXPECT_EQ(sim_->Control("ledfault 0x02"), "ledfault 0x02");
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 0, 0, 0x03), -100);
    // The sequence stopped before the timing word.
    EXPECT_EQ(Register16(0xC000), 0);
    int32_t length = -1;
    EXPECT_EQ(Zerik_GetLedLightLen(dev_, 0x02, &length), 0);
    EXPECT_EQ(length, 225 ^ 1);
    // Layer 2 does not check: the same fault passes.
    EXPECT_EQ(Zerik_SetScanParams(dev_, 2, 200, 0, 0, 0x03), 0);
    EXPECT_EQ(device.register_byte(0xC005), 0x73);
}

TEST_F(ScanSetup, SmallStepsOnTheirOwn) {
    sim::Scanner& device = LinkScanner(0);
    std::size_t before = device.packets().size();
    int32_t length = -1;
    EXPECT_EQ(Zerik_SetLedLightLen(dev_, 0x81, 0x1234), 0);
    EXPECT_EQ(Register16(0xC013), 0x1234);
    EXPECT_EQ(Register16(0xC009), 0x1234);
    EXPECT_EQ(Zerik_SetLedLightLen(dev_, 0x06, 300), 0);
    const auto packets = PacketsSince(before);
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(packets[2], (Bytes{0x02, 0x00, 0x05, 0x0F, 0xC0, 0x02, 0x2C, 0x01}));
    EXPECT_EQ(packets[3], (Bytes{0x02, 0x00, 0x05, 0x0B, 0xC0, 0x02, 0x2C, 0x01}));

    before = device.packets().size();
    EXPECT_EQ(Zerik_GetLedLightLen(dev_, 0x06, &length), 0);
    EXPECT_EQ(length, 300);
    EXPECT_EQ(PacketsSince(before), (std::vector<Bytes>{{0x01, 0x00, 0x03, 0x0F, 0xC0, 0x02}}));
    before = device.packets().size();
    EXPECT_EQ(Zerik_GetLedLightLen(dev_, 0, &length), 0);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(PacketsSince(before).empty());

    CapturedLog::Instance().Clear();
    EXPECT_EQ(Zerik_LoadGammaTable(dev_, 0, 0x1234, 0x16800, 0x101), 0);
    EXPECT_EQ(PacketsSince(device.packets().size() - 1),
              (std::vector<Bytes>{
                  {0x11, 0x00, 0x09, 0x34, 0x12, 0x00, 0x00, 0x00, 0x68, 0x01, 0x00, 0x03}}));
    EXPECT_EQ(CapturedLog::Instance().Texts(),
              std::vector<std::string>{"Zerik_LoadGammaTable:IsDefault=0 flash_addr=0x1234 "
                                       "dsp_addr=0x6800 dsp_id=1\n"});

    // The motor rate logs before its connected check; the others refuse first.
    dev_->Connected.store(0);
    CapturedLog::Instance().Clear();
    before = device.packets().size();
    EXPECT_EQ(Zerik_SetMotorRate(dev_, 3), -3);
    EXPECT_EQ(CapturedLog::Instance().Texts(), std::vector<std::string>{"Zerik_SetMotorRate :3\n"});
    EXPECT_EQ(Zerik_SetScanParams(dev_, 1, 200, 0, 0, 1), -3);
    EXPECT_EQ(Zerik_SetScanParamsEx(dev_, 1, 200, 0, 0, 1, 0, 0, 0, 0), -3);
    EXPECT_EQ(Zerik_SetLedLightLen(dev_, 1, 1), -3);
    EXPECT_EQ(Zerik_GetLedLightLen(dev_, 1, &length), -3);
    EXPECT_EQ(Zerik_LoadGammaTable(dev_, 1, 0, 0, 0), -3);
    EXPECT_EQ(LoadNormCoff(dev_, 0, 0, 0), -3);
    EXPECT_EQ(CapturedLog::Instance().Texts().size(), 1u);
    EXPECT_TRUE(PacketsSince(before).empty());
    for (auto* call : {+[] { return Zerik_SetScanParams(nullptr, 1, 200, 0, 0, 1); },
                       +[] { return Zerik_SetMotorRate(nullptr, 0); },
                       +[] { return Zerik_SetLedLightLen(nullptr, 1, 1); },
                       +[] { return Zerik_LoadGammaTable(nullptr, 1, 0, 0, 0); }}) {
        EXPECT_EQ(call(), -1);
    }
    dev_->Connected.store(1);
    // Layer counts other than 1 to 3 are refused after the entry line, before any packet.
    EXPECT_EQ(Zerik_SetScanParams(dev_, 4, 200, 0, 0, 1), -1);
    EXPECT_EQ(Zerik_SetScanParams(dev_, 0, 200, 0, 0, 1), -1);
    EXPECT_TRUE(PacketsSince(before).empty());
}

}  // namespace
}  // namespace zerik::test
