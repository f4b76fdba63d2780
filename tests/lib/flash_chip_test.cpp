// The simulated flash chip on its own: the packets it serves, its command
// cycles, protection and erase status, its factory contents and options.
#include "flash_chip.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace zerik::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using Reply = std::array<uint8_t, 64>;

Bytes Packet(uint8_t code, uint32_t address, Bytes data, uint8_t count) {
    Bytes packet(8 + data.size());
    packet[0] = code;
    packet[2] = static_cast<uint8_t>(5 + data.size());
    for (std::size_t i = 0; i < 4; ++i) packet[3 + i] = static_cast<uint8_t>(address >> (8 * i));
    packet[7] = count;
    std::copy(data.begin(), data.end(), packet.begin() + 8);
    return packet;
}

class Bus {
  public:
    explicit Bus(FlashChip& chip) : chip_(chip) {}
    uint8_t Read(uint32_t address) {
        Reply reply{};
        EXPECT_TRUE(chip_.Handle(Packet(FlashChip::kReadCommand, address, {}, 1), reply));
        EXPECT_EQ(reply[0], FlashChip::kReadCommand);
        return reply[3];
    }
    void Write(uint32_t address, uint8_t value) {
        Reply reply{};
        EXPECT_TRUE(chip_.Handle(Packet(FlashChip::kWriteCommand, address, {value}, 1), reply));
    }
    void Program(uint32_t address, const Bytes& data) {
        Reply reply{};
        EXPECT_TRUE(chip_.Handle(
            Packet(FlashChip::kProgramCommand, address, data, static_cast<uint8_t>(data.size())),
            reply));
    }

  private:
    FlashChip& chip_;
};

TEST(SimFlashChip, FactoryContentsHoldGammaTablesAndNormalisationPages) {
    FlashChip chip;
    const Bytes header = chip.Read(0, 32);
    EXPECT_EQ(std::memcmp(header.data(), "GAMMA", 5), 0);
    EXPECT_TRUE(std::all_of(header.begin() + 5, header.end(), [](uint8_t b) { return b == 0; }));
    // DSP 0's three tables at 0x20, DSP 1's at 0x620, words low byte first.
    for (int dsp = 0; dsp < 2; ++dsp) {
        const Bytes tables = chip.Read(0x20 + 0x600 * static_cast<uint32_t>(dsp), 0x600);
        for (int layer = 0; layer < 3; ++layer) {
            for (int entry = 0; entry < 256; ++entry) {
                const std::size_t at = 2 * static_cast<std::size_t>(layer * 256 + entry);
                ASSERT_EQ(tables[at] | tables[at + 1] << 8,
                          FlashChip::FactoryGamma(dsp, layer, entry));
            }
            EXPECT_EQ(FlashChip::FactoryGamma(dsp, layer, 0), 0);
            EXPECT_EQ(FlashChip::FactoryGamma(dsp, layer, 255), 255);
        }
    }
    for (uint32_t page = 0; page < 56; ++page) {
        const Bytes head = chip.Read(page * 4096, 4);
        const bool norm = std::memcmp(head.data(), "NORM", 4) == 0;
        EXPECT_EQ(norm, page >= 2 && page <= 53) << "page " << page;
        if (!norm) continue;
        const Bytes coefficients = chip.Read(page * 4096 + 32, 2 * 1728);
        for (int i = 0; i < 1728; i += 97) {
            const auto at = static_cast<std::size_t>(2 * i);
            EXPECT_EQ(coefficients[at] | coefficients[at + 1] << 8,
                      FlashChip::FactoryCoefficient(static_cast<int>(page), i));
        }
    }
    EXPECT_EQ(chip.Read(4096, 4), Bytes(4, 0xFF));
    EXPECT_EQ(chip.Read(FlashChip::kSize - 2, 4), Bytes(4, 0xFF)) << "beyond the chip";
}

TEST(SimFlashChip, MalformedPacketsGetNoReply) {
    FlashChip chip;
    Reply reply{};
    EXPECT_FALSE(chip.Handle(Bytes{FlashChip::kReadCommand, 0, 5, 0, 0, 0}, reply));
    EXPECT_FALSE(chip.Handle(Packet(FlashChip::kReadCommand, 0, {}, 62), reply));
    EXPECT_TRUE(chip.Handle(Packet(FlashChip::kReadCommand, 0, {}, 61), reply));
    EXPECT_FALSE(chip.Handle(Packet(FlashChip::kWriteCommand, 0, {1, 2}, 3), reply));
    EXPECT_FALSE(chip.Handle(Packet(FlashChip::kProgramCommand, 0, Bytes(57), 57), reply));
    EXPECT_FALSE(chip.Handle(Packet(0x11, 0, {}, 0), reply));
}

TEST(SimFlashChip, ProgramOnlyClearsBits) {
    FlashChip chip;
    Bus bus(chip);
    bus.Program(0x1000, {0xF0, 0x0F});
    bus.Program(0x1000, {0x3C, 0xFF});
    EXPECT_EQ(chip.Read(0x1000, 2), (Bytes{0x30, 0x0F}));
}

TEST(SimFlashChip, JedecChipIdentifiesAndErasesOneSector) {
    FlashChip chip;
    Bus bus(chip);
    EXPECT_EQ(bus.Read(0), 'G');
    // A single-cycle identify is not a command of this chip.
    bus.Write(0x555, 0x90);
    EXPECT_EQ(bus.Read(0), 'G');
    bus.Write(0x5555, 0xAA);
    bus.Write(0x2AAA, 0x55);
    bus.Write(0x5555, 0x90);
    EXPECT_EQ(bus.Read(0), 0xBF);
    EXPECT_EQ(bus.Read(1), 0xD7);
    bus.Write(1, 0xF0);
    EXPECT_EQ(bus.Read(1), 'A');

    chip.set_busy_reads(2);
    for (const auto& [address, value] : std::vector<std::pair<uint32_t, uint8_t>>{{0x5555, 0xAA},
                                                                                  {0x2AAA, 0x55},
                                                                                  {0x5555, 0x80},
                                                                                  {0x5555, 0xAA},
                                                                                  {0x2AAA, 0x55},
                                                                                  {0x3456, 0x30}}) {
        bus.Write(address, value);
    }
    EXPECT_NE(bus.Read(0x3000), 0xFF);
    EXPECT_NE(bus.Read(0x3000), 0xFF);
    EXPECT_EQ(bus.Read(0x3000), 0xFF);
    EXPECT_EQ(chip.Read(0x3000, 0x1000), Bytes(0x1000, 0xFF));
    EXPECT_EQ(chip.Read(0x2000, 4), (Bytes{'N', 'O', 'R', 'M'}));
    EXPECT_NE(chip.Read(0x4000, 2), Bytes(2, 0xFF));
    EXPECT_EQ(chip.erases_done(), 1);
}

TEST(SimFlashChip, PagedChipErasesOnlyOnceUnprotected) {
    FlashChip chip;
    chip.set_id(FlashChip::kPagedChip);
    chip.set_busy_reads(0);
    Bus bus(chip);
    bus.Write(0x555, 0x90);
    EXPECT_EQ(bus.Read(0), 0xBF);
    EXPECT_EQ(bus.Read(1), 0x04);
    bus.Write(1, 0xFF);
    EXPECT_EQ(bus.Read(0), 'G');

    const Bytes before = chip.Read(0x2000, 0x200);
    bus.Write(0x555, 0x20);
    bus.Write(0x2000, 0xD0);
    EXPECT_EQ(chip.Read(0x2000, 0x200), before) << "protected at power-up";
    EXPECT_TRUE(chip.write_protected());

    for (const uint32_t address : {0x1823, 0x1820, 0x1822, 0x0418, 0x041B, 0x0419, 0x041A}) {
        bus.Read(address);
    }
    EXPECT_FALSE(chip.write_protected());
    bus.Write(0x555, 0x20);
    bus.Write(0x2010, 0xD0);
    EXPECT_EQ(chip.Read(0x2000, 0x100), Bytes(0x100, 0xFF));
    EXPECT_EQ(chip.Read(0x2100, 0x100), Bytes(before.begin() + 0x100, before.end()));

    for (const uint32_t address : {0x1823, 0x1820, 0x1822, 0x0418, 0x041B, 0x0419, 0x040A}) {
        bus.Read(address);
    }
    EXPECT_TRUE(chip.write_protected());
}

TEST(SimFlashChip, StuckEraseNeverFinishesAndTakesNoCommand) {
    FlashChip chip;
    chip.set_busy_reads(FlashChip::kStuck);
    Bus bus(chip);
    const Bytes before = chip.Read(0x5000, 0x1000);
    for (const auto& [address, value] : std::vector<std::pair<uint32_t, uint8_t>>{{0x5555, 0xAA},
                                                                                  {0x2AAA, 0x55},
                                                                                  {0x5555, 0x80},
                                                                                  {0x5555, 0xAA},
                                                                                  {0x2AAA, 0x55},
                                                                                  {0x5000, 0x30}}) {
        bus.Write(address, value);
    }
    for (int i = 0; i < 50; ++i) ASSERT_NE(bus.Read(0x5000), 0xFF);
    EXPECT_EQ(chip.Read(0x5000, 0x1000), before);
}

TEST(SimFlashChip, OptionsChooseTheChipAndItsContents) {
    FlashChip chip;
    std::string error;
    const std::vector<std::string> id = {"--flash-id", "0xBF04", "--other"};
    EXPECT_EQ(chip.TakeOption(id, &error), 2);
    EXPECT_EQ(chip.id(), FlashChip::kPagedChip);
    const std::vector<std::string> bad_id = {"--flash-id", "0x1234"};
    EXPECT_EQ(chip.TakeOption(bad_id, &error), -1);
    EXPECT_FALSE(error.empty());
    const std::vector<std::string> missing = {"--flash-id"};
    EXPECT_EQ(chip.TakeOption(missing, &error), -1);
    const std::vector<std::string> other = {"--dsp", "stopped"};
    EXPECT_EQ(chip.TakeOption(other, &error), 0);

    char pattern[] = "/tmp/zerik-flash-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    {
        std::ofstream(dir + "/small.bin", std::ios::binary) << "NORMAL";
        std::ofstream big(dir + "/big.bin", std::ios::binary);
        big << std::string(FlashChip::kSize + 1, 'x');
    }
    const std::vector<std::string> image = {"--flash-image", dir + "/small.bin"};
    EXPECT_EQ(chip.TakeOption(image, &error), 2);
    const Bytes head = chip.Read(0, 8);
    EXPECT_EQ(std::string(head.begin(), head.begin() + 6), "NORMAL");
    EXPECT_EQ(head[6], 0xFF);
    EXPECT_EQ(chip.Read(0x20, 2), Bytes(2, 0xFF)) << "the rest is erased";
    const std::vector<std::string> big = {"--flash-image", dir + "/big.bin"};
    EXPECT_EQ(chip.TakeOption(big, &error), -1);
    const std::vector<std::string> none = {"--flash-image", dir + "/none.bin"};
    EXPECT_EQ(chip.TakeOption(none, &error), -1);
    std::filesystem::remove_all(dir);
}

TEST(SimFlashChip, ControlLinesSetTheEraseTime) {
    FlashChip chip;
    EXPECT_EQ(chip.Control("pipetest right"), "");
    EXPECT_EQ(chip.Control("flash busy stuck"), "flash busy stuck");
    EXPECT_EQ(chip.Control("flash busy 0"), "flash busy 0");
    EXPECT_EQ(chip.Control("flash busy x").front(), '?');
    Bus bus(chip);
    for (const auto& [address, value] : std::vector<std::pair<uint32_t, uint8_t>>{{0x5555, 0xAA},
                                                                                  {0x2AAA, 0x55},
                                                                                  {0x5555, 0x80},
                                                                                  {0x5555, 0xAA},
                                                                                  {0x2AAA, 0x55},
                                                                                  {0x6000, 0x30}}) {
        bus.Write(address, value);
    }
    EXPECT_EQ(bus.Read(0x6000), 0xFF) << "no busy reads: erased at once";
}

}  // namespace
}  // namespace zerik::sim
