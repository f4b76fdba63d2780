// The flash exports: packet layouts and argument checks against a scripted
// device, and identification, erase, programming and the gamma save
// against the simulated flash chip of either identity.
#include "flash.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "flash_chip.h"
#include "link_fixture.h"
#include "scanner.h"
#include "texts.h"

namespace zerik {
namespace {

using test::Bytes;
using test::CapturedLog;
using test::Msg;

constexpr uint8_t kRead = 0x0C;
constexpr uint8_t kWrite = 0x0D;
constexpr uint8_t kProgram = 0x10;

// ---- Pieces and the gamma image -------------------------------------------

struct PieceCase {
    uint32_t address;
    uint32_t length;
    std::vector<std::pair<uint32_t, uint32_t>> pieces;  // address, size
};

class FlashPieces : public ::testing::TestWithParam<PieceCase> {};

TEST_P(FlashPieces, NeverCrossAPageNorExceed32Bytes) {
    const PieceCase& c = GetParam();
    std::vector<std::pair<uint32_t, uint32_t>> pieces;
    for (uint32_t offset = 0; offset < c.length;) {
        const FlashPiece piece = NextFlashPiece(c.address, offset, c.length);
        EXPECT_EQ(piece.offset, offset);
        pieces.emplace_back(piece.address, piece.size);
        offset += piece.size;
    }
    EXPECT_EQ(pieces, c.pieces);
}

INSTANTIATE_TEST_SUITE_P(Table, FlashPieces,
                         ::testing::Values(PieceCase{0xF0, 40, {{0xF0, 16}, {0x100, 24}}},
                                           PieceCase{0x100, 32, {{0x100, 32}}},
                                           PieceCase{0x100, 33, {{0x100, 32}, {0x120, 1}}},
                                           PieceCase{0xFF, 2, {{0xFF, 1}, {0x100, 1}}},
                                           PieceCase{0x1E8, 0x30, {{0x1E8, 24}, {0x200, 24}}},
                                           PieceCase{0x12345, 5, {{0x12345, 5}}},
                                           PieceCase{0xFFFFFFF8, 16, {{0xFFFFFFF8, 8}, {0, 8}}}));

TEST(FlashPieces, GammaImageTakes96PiecesOf32Bytes) {
    int pieces = 0;
    for (uint32_t offset = 0; offset < kGammaImageBytes; ++pieces) {
        const FlashPiece piece = NextFlashPiece(kGammaImageAddress, offset, kGammaImageBytes);
        EXPECT_EQ(piece.size, 32u);
        EXPECT_EQ(piece.address / 256, (piece.address + piece.size - 1) / 256);
        offset += piece.size;
    }
    EXPECT_EQ(pieces, 96);
}

TEST(GammaImage, WordsAreDsp0TablesThenDsp1TablesLowByteFirst) {
    uint8_t table[kGammaTableBytes];
    for (std::size_t i = 0; i < kGammaTableBytes; ++i)
        table[i] = static_cast<uint8_t>(i * 7 + i / 256);
    const auto image = GammaFlashImage(table);
    for (std::size_t layer = 0; layer < 3; ++layer) {
        for (std::size_t j = 0; j < 256; ++j) {
            const std::size_t dsp0 = layer * 256 + j;
            const std::size_t dsp1 = 768 + layer * 256 + j;
            ASSERT_EQ(image[2 * dsp0], table[layer * 512 + j]);
            ASSERT_EQ(image[2 * dsp1], table[layer * 512 + 256 + j]);
            ASSERT_EQ(image[2 * dsp0 + 1], 0);
            ASSERT_EQ(image[2 * dsp1 + 1], 0);
        }
    }
    const auto header = GammaHeader();
    EXPECT_EQ(std::memcmp(header.data(), "GAMMA", 5), 0);
    EXPECT_TRUE(std::all_of(header.begin() + 5, header.end(), [](uint8_t b) { return b == 0; }));
}

// ---- Packets against a scripted device --------------------------------------

Bytes FlashPacket(uint8_t code, uint32_t address, Bytes data, uint8_t count) {
    Bytes packet(8 + data.size());
    packet[0] = code;
    packet[2] = static_cast<uint8_t>(5 + data.size());
    for (std::size_t i = 0; i < 4; ++i) packet[3 + i] = static_cast<uint8_t>(address >> (8 * i));
    packet[7] = count;
    std::copy(data.begin(), data.end(), packet.begin() + 8);
    return packet;
}

using FlashScripted = test::LinkFixture;

TEST_F(FlashScripted, ReadFlashCopiesUpTo50ReplyBytes) {
    auto& device = LinkScripted();
    Bytes reply = Msg({kRead, 0, 50});
    for (std::size_t i = 0; i < 61; ++i) reply[3 + i] = static_cast<uint8_t>(0x80 + i);
    device.Answer({reply});
    uint8_t out[51] = {};
    out[50] = 0xEE;
    ASSERT_EQ(Zerik_ReadFlash(dev_, 0x12345678, out, 50), kOk);
    for (std::size_t i = 0; i < 50; ++i) EXPECT_EQ(out[i], 0x80 + i);
    EXPECT_EQ(out[50], 0xEE);
    ASSERT_EQ(device.Packets().size(), 1u);
    EXPECT_EQ(device.Packets()[0], FlashPacket(kRead, 0x12345678, {}, 50));
}

TEST_F(FlashScripted, CountsBeyondThePacketSendNothing) {
    auto& device = LinkScripted();
    uint8_t buffer[64] = {};
    EXPECT_EQ(Zerik_ReadFlash(dev_, 0, buffer, 51), kBadArgument);
    EXPECT_EQ(Zerik_ReadFlash(dev_, 0, buffer, -1), kBadArgument);
    EXPECT_EQ(Zerik_WriteFlash(dev_, 0, buffer, 51), kBadArgument);
    EXPECT_EQ(Zerik_ProgramFlash(dev_, 0, buffer, 57), kBadArgument);
    EXPECT_EQ(Zerik_ReadFlash(nullptr, 0, buffer, 1), kBadArgument);
    EXPECT_EQ(Zerik_SaveGammaTblToFlash(dev_, nullptr), kBadArgument);
    dev_->Connected.store(0);
    EXPECT_EQ(Zerik_ReadFlash(dev_, 0, buffer, 51), kNotConnected);
    EXPECT_EQ(Zerik_ProgramFlashBuffer(dev_, 0, buffer, 4), kNotConnected);
    EXPECT_EQ(Zerik_CheckFlashChip(dev_), kNotConnected);
    EXPECT_EQ(Zerik_EraseFlash(dev_, 0), kNotConnected);
    EXPECT_TRUE(device.Packets().empty());
}

TEST_F(FlashScripted, WriteAndProgramCarryAddressCountAndData) {
    auto& device = LinkScripted();
    device.Answer({Msg({kWrite})});
    device.Answer({Msg({kProgram})});
    const uint8_t data[3] = {0xAA, 0x55, 0x90};
    EXPECT_EQ(Zerik_WriteFlash(dev_, 0x5555, data, 3), kOk);
    Bytes full(56);
    for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Zerik_ProgramFlash(dev_, 0x1000, full.data(), 56), kOk);
    const auto packets = device.Packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0], FlashPacket(kWrite, 0x5555, {0xAA, 0x55, 0x90}, 3));
    EXPECT_EQ(packets[1], FlashPacket(kProgram, 0x1000, full, 56));
    EXPECT_EQ(packets[1].size(), 64u);
}

TEST_F(FlashScripted, ProgramWithoutDeviceHandleFails) {
    LinkScripted();
    dev_->DropDriver();
    const uint8_t byte = 0;
    EXPECT_EQ(Zerik_ProgramFlash(dev_, 0, &byte, 1), kDeviceFailure);
    EXPECT_EQ(Zerik_ProgramFlashBuffer(dev_, 0, &byte, 1), kDeviceFailure);
}

TEST_F(FlashScripted, BufferIsProgrammedInPiecesUpToTheFirstFailure) {
    auto& device = LinkScripted();
    device.Answer({Msg({kProgram})});
    device.Answer({});  // the second piece goes unanswered
    Bytes data(80);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Zerik_ProgramFlashBuffer(dev_, 0xF0, data.data(), 40), kNoReply);
    const auto packets = device.Packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0], FlashPacket(kProgram, 0xF0, Bytes(data.begin(), data.begin() + 16), 16));
    EXPECT_EQ(packets[1],
              FlashPacket(kProgram, 0x100, Bytes(data.begin() + 16, data.begin() + 40), 24));
    EXPECT_EQ(Zerik_ProgramFlashBuffer(dev_, 0xF0, data.data(), 0), kOk);
    EXPECT_EQ(device.Packets().size(), 2u);
}

TEST_F(FlashScripted, UnknownChipIsLoggedKeptAndNeverErased) {
    auto& device = LinkScripted();
    // Both identify sequences read 0x12 at address 0 and 0x34 at address 1.
    for (int sequence = 0; sequence < 2; ++sequence) {
        for (int write = 0; write < (sequence == 0 ? 1 : 3); ++write)
            device.Answer({Msg({kWrite})});
        device.Answer({Msg({kRead, 0, 1, 0x12})});
        device.Answer({Msg({kRead, 0, 1, 0x34})});
        device.Answer({Msg({kWrite})});
    }
    EXPECT_EQ(Zerik_CheckFlashChip(dev_), kOk);
    EXPECT_EQ(dev_->FlashId.load(), 0x1234u);
    EXPECT_EQ(CapturedLog::Instance().Count("Unknow Flash ID:0x1234\n"), 1);
    const auto identify = device.Packets().size();
    EXPECT_EQ(identify, 10u);
    EXPECT_EQ(Zerik_EraseFlash(dev_, 0), kOk);
    EXPECT_EQ(device.Packets().size(), identify);
}

// ---- Against the simulated flash chip -------------------------------------

// A device with nothing but the flash chip: answers the loop-back test and
// serves the three flash commands, keeping every packet.
class FlashDevice : public sim::Device {
  public:
    void Attach(sim::Host*) override {}
    void OnHostWrite(sim::Link& from, std::span<const uint8_t> bytes) override {
        if (bytes.size() == 3 && bytes[0] == 0 && bytes[2] == 0) {
            Bytes answer(64);
            for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i);
            from.SendMessage(answer);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            packets_.emplace_back(bytes.begin(), bytes.end());
        }
        std::array<uint8_t, 64> reply{};
        if (chip.Handle(bytes, reply)) from.SendMessage(reply);
    }
    std::string Control(const std::string&) override { return std::string(); }
    std::string ControlHelp() const override { return std::string(); }

    std::vector<Bytes> Packets(uint8_t code) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Bytes> selected;
        for (const Bytes& packet : packets_) {
            if (packet[0] == code) selected.push_back(packet);
        }
        return selected;
    }
    std::size_t PacketCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return packets_.size();
    }
    void ClearPackets() {
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.clear();
    }

    sim::FlashChip chip;

  private:
    mutable std::mutex mutex_;
    std::vector<Bytes> packets_;
};

uint32_t PacketAddress(const Bytes& packet) {
    return static_cast<uint32_t>(packet[3] | packet[4] << 8 | packet[5] << 16 | packet[6] << 24);
}

class FlashChipTest : public test::LinkFixture, public ::testing::WithParamInterface<uint16_t> {
  protected:
    FlashDevice& LinkChip(uint16_t id) {
        auto device = std::make_unique<FlashDevice>();
        device->chip.set_id(id);
        device_ = device.get();
        Link(std::move(device));
        return *device_;
    }
    FlashDevice* device_ = nullptr;
};

TEST_P(FlashChipTest, ChipIsIdentified) {
    const uint16_t id = GetParam();
    FlashDevice& device = LinkChip(id);
    EXPECT_EQ(Zerik_CheckFlashChip(dev_), kOk);
    EXPECT_EQ(dev_->FlashId.load(), id);
    EXPECT_EQ(CapturedLog::Instance().Count(test::Format("FlashID=0x%X\n", id)), 1);
    // The single-cycle chip answers the first sequence: the second is never sent.
    const bool paged = id == sim::FlashChip::kPagedChip;
    EXPECT_EQ(device.PacketCount(), paged ? 4u : 10u);
    for (const Bytes& write : device.Packets(kWrite)) {
        if (paged) {
            EXPECT_NE(PacketAddress(write), 0x5555u);
        }
    }
    // The chip is back in read mode: address 0 holds the gamma header.
    uint8_t head[5] = {};
    ASSERT_EQ(Zerik_ReadFlash(dev_, 0, head, 5), kOk);
    EXPECT_EQ(std::memcmp(head, "GAMMA", 5), 0);
}

TEST_P(FlashChipTest, EraseClearsExactlyTheBlock) {
    const uint16_t id = GetParam();
    FlashDevice& device = LinkChip(id);
    ASSERT_EQ(Zerik_CheckFlashChip(dev_), kOk);
    const std::vector<uint8_t> before = device.chip.Read(0x1000, 0x3000);
    ASSERT_NE(before[0x1000], 0xFF);  // page 3 holds coefficients
    device.ClearPackets();

    EXPECT_EQ(Zerik_EraseFlash(dev_, 0x2000), kOk);
    const std::vector<uint8_t> after = device.chip.Read(0x1000, 0x3000);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 0x1000, after.begin()));
    EXPECT_TRUE(std::all_of(after.begin() + 0x1000, after.begin() + 0x2000,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(before.begin() + 0x2000, before.end(), after.begin() + 0x2000));

    std::vector<uint32_t> sector_commands;
    for (const Bytes& write : device.Packets(kWrite)) {
        if (write[8] == 0xD0 || write[8] == 0x30) sector_commands.push_back(PacketAddress(write));
    }
    if (id == sim::FlashChip::kPagedChip) {
        std::vector<uint32_t> expected;
        for (uint32_t sector = 0x2000; sector < 0x3000; sector += 0x100) expected.push_back(sector);
        EXPECT_EQ(sector_commands, expected);
        // The unprotect reads come first, once.
        const auto reads = device.Packets(kRead);
        const uint32_t unprotect[] = {0x1823, 0x1820, 0x1822, 0x0418, 0x041B, 0x0419, 0x041A};
        ASSERT_GT(reads.size(), 7u);
        for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(PacketAddress(reads[i]), unprotect[i]);
        EXPECT_EQ(device.chip.erases_done(), 16);
    } else {
        EXPECT_EQ(sector_commands, std::vector<uint32_t>{0x2000});
        EXPECT_EQ(device.chip.erases_done(), 1);
    }
}

TEST_P(FlashChipTest, SectorThatStaysBusyEndsTheEraseWithMinus100) {
    FlashDevice& device = LinkChip(GetParam());
    ASSERT_EQ(Zerik_CheckFlashChip(dev_), kOk);
    device.chip.set_busy_reads(sim::FlashChip::kStuck);
    device.ClearPackets();
    EXPECT_EQ(Zerik_EraseFlash(dev_, 0x5000), kDeviceFailure);
    EXPECT_EQ(CapturedLog::Instance().Count("EraseFlash timeout addr=0x5000\n"), 1);
    int sector_commands = 0;
    for (const Bytes& write : device.Packets(kWrite)) {
        sector_commands += write[8] == 0xD0 || write[8] == 0x30 ? 1 : 0;
    }
    EXPECT_EQ(sector_commands, 1) << "no further sector after the one that timed out";
    // The first read after 20 ms, then one every 100 ms, up to the bound.
    const auto reads = device.Packets(kRead);
    const auto polls = std::count_if(reads.begin(), reads.end(), [](const Bytes& read) {
        return PacketAddress(read) == 0x5000;
    });
    EXPECT_EQ(polls, kSectorPolls + 1);
}

TEST_P(FlashChipTest, GammaTablesAreWrittenOnceThenFoundInPlace) {
    FlashDevice& device = LinkChip(GetParam());
    ASSERT_EQ(Zerik_CheckFlashChip(dev_), kOk);
    uint8_t table[kGammaTableBytes];
    for (std::size_t i = 0; i < kGammaTableBytes; ++i)
        table[i] = static_cast<uint8_t>(255 - i % 256);
    device.ClearPackets();

    EXPECT_EQ(Zerik_SaveGammaTblToFlash(dev_, table), kOk);
    const auto image = GammaFlashImage(table);
    const std::vector<uint8_t> flash = device.chip.Read(0, 0x20 + kGammaImageBytes);
    const auto header = GammaHeader();
    EXPECT_TRUE(std::equal(header.begin(), header.end(), flash.begin()));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 0x20));
    EXPECT_EQ(device.Packets(kRead).size() - (GetParam() == sim::FlashChip::kPagedChip ? 7u : 0u) -
                  device.chip.erases_done() * 2u,
              96u)
        << "96 table reads besides the unprotect and status reads";
    EXPECT_EQ(device.Packets(kProgram).size(), 1u + 96u);
    EXPECT_EQ(CapturedLog::Instance().Count("ret=0\n"), 1);

    device.ClearPackets();
    EXPECT_EQ(Zerik_SaveGammaTblToFlash(dev_, table), kOk);
    EXPECT_EQ(CapturedLog::Instance().Count("No Need To Write Flash\n"), 1);
    EXPECT_EQ(CapturedLog::Instance().Count("Zerik_SaveGammaTblToFlash\n"), 2);
    EXPECT_EQ(device.Packets(kRead).size(), 96u);
    EXPECT_EQ(device.PacketCount(), 96u);
}

TEST_P(FlashChipTest, GammaSaveStopsWhenTheEraseFails) {
    FlashDevice& device = LinkChip(GetParam());
    ASSERT_EQ(Zerik_CheckFlashChip(dev_), kOk);
    const std::vector<uint8_t> before = device.chip.Read(0, 0x1000);
    device.chip.set_busy_reads(sim::FlashChip::kStuck);
    uint8_t table[kGammaTableBytes] = {};
    EXPECT_EQ(Zerik_SaveGammaTblToFlash(dev_, table), kDeviceFailure);
    EXPECT_TRUE(device.Packets(kProgram).empty());
    EXPECT_EQ(CapturedLog::Instance().Count("ret=-100\n"), 1);
    EXPECT_EQ(device.chip.Read(0, 0x1000), before);
}

INSTANTIATE_TEST_SUITE_P(BothChips, FlashChipTest,
                         ::testing::Values(sim::FlashChip::kPagedChip, sim::FlashChip::kJedecChip),
                         [](const auto& test_info) {
                             return test_info.param == sim::FlashChip::kPagedChip ? "BF04" : "BFD7";
                         });

TEST_F(FlashScripted, EraseBeforeIdentificationDoesNothing) {
    auto& device = LinkScripted();
    EXPECT_EQ(Zerik_EraseFlash(dev_, 0), kOk);
    EXPECT_TRUE(device.Packets().empty());
}

TEST_F(FlashScripted, GammaSaveOnAnUnconnectedDeviceFailsWithMinus3) {
    auto& device = LinkScripted();
    dev_->Connected.store(0);
    const uint8_t table[kGammaTableBytes] = {};
    EXPECT_EQ(Zerik_SaveGammaTblToFlash(dev_, table), kNotConnected);
    EXPECT_TRUE(device.Packets().empty());
    EXPECT_EQ(CapturedLog::Instance().Count("Zerik_SaveGammaTblToFlash\n"), 1);
    EXPECT_EQ(CapturedLog::Instance().Count("ret=-3\n"), 1);
}

// The scanner's own options choose the chip and what it holds; the library
// reaches it through the scanner's command dispatch.
TEST_F(FlashScripted, ScannerOptionsChooseChipAndContents) {
    const std::string image = dir() + "/flash.bin";
    {
        std::ofstream out(image, std::ios::binary);
        out << "GAMMA" << std::string(27, '\0') << "\x11\x22";
    }
    std::string error;
    auto device = sim::MakeScanner({"--flash-id", "0xBF04", "--flash-image", image}, &error);
    ASSERT_NE(device, nullptr) << error;
    auto& scanner = dynamic_cast<sim::Scanner&>(*device);
    Link(std::move(device));
    ASSERT_EQ(Zerik_CheckFlashChip(dev_), kOk);
    EXPECT_EQ(dev_->FlashId.load(), 0xBF04u);
    uint8_t bytes[4] = {};
    ASSERT_EQ(Zerik_ReadFlash(dev_, 0x1F, bytes, 4), kOk);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0x11);
    EXPECT_EQ(bytes[2], 0x22);
    EXPECT_EQ(bytes[3], 0xFF);

    uint8_t table[kGammaTableBytes];
    for (std::size_t i = 0; i < kGammaTableBytes; ++i) table[i] = static_cast<uint8_t>(i / 6);
    EXPECT_EQ(Zerik_SaveGammaTblToFlash(dev_, table), kOk);
    const auto expected = GammaFlashImage(table);
    const std::vector<uint8_t> held = scanner.flash().Read(kGammaImageAddress, kGammaImageBytes);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), held.begin()));
    EXPECT_FALSE(scanner.flash().write_protected());
}

TEST_F(FlashScripted, BadFlashOptionsAreRefusedByTheScanner) {
    std::string error;
    EXPECT_EQ(sim::MakeScanner({"--flash-id", "0xBF05"}, &error), nullptr);
    EXPECT_NE(error.find("--flash-id"), std::string::npos);
    EXPECT_EQ(sim::MakeScanner({"--flash-image", dir() + "/none.bin"}, &error), nullptr);
}

TEST_F(FlashScripted, GammaTablesAreWrittenWhenTheFlashCannotBeRead) {
    auto& device = LinkScripted();
    device.Answer({});  // the first read goes unanswered: no further reads
    for (int piece = 0; piece < 1 + 96; ++piece) device.Answer({Msg({kProgram})});
    uint8_t table[kGammaTableBytes];
    for (std::size_t i = 0; i < kGammaTableBytes; ++i) table[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Zerik_SaveGammaTblToFlash(dev_, table), kOk);
    const auto packets = device.Packets();
    ASSERT_EQ(packets.size(), 1u + 1u + 96u);
    EXPECT_EQ(packets[0], FlashPacket(kRead, 0x20, {}, 32));
    const auto header = GammaHeader();
    EXPECT_EQ(packets[1], FlashPacket(kProgram, 0, Bytes(header.begin(), header.end()), 32));
    const auto image = GammaFlashImage(table);
    EXPECT_EQ(packets[97],
              FlashPacket(kProgram, 0x20 + 95 * 32, Bytes(image.end() - 32, image.end()), 32));
    EXPECT_EQ(CapturedLog::Instance().Count("ret=0\n"), 1);
}

}  // namespace
}  // namespace zerik
