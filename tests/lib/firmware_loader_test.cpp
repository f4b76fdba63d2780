// Zerik_LoadDspFW against the simulated scanner: DSP memory read back after
// loading our own and real TI COFF files, the packets it sends, its trace
// in the library log, and files it must refuse without sending anything.
#include "firmware_loader.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "coff_writer.h"
#include "link_fixture.h"
#include "scanner.h"

namespace zerik {
namespace {

using test::Bytes;
using test::CountOf;

constexpr uint8_t kWriteDspWords = 0x06;

Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// DSP memory as the file's sections in order leave it: big-endian words, an
// odd last byte padded with 0, word addresses wrapping at 16 bits as the
// command's address field does.
std::map<uint16_t, uint16_t> ExpectedMemory(const Bytes& file) {
    const FirmwareImage image = ParseFirmware(file);
    EXPECT_TRUE(image.ok());
    std::map<uint16_t, uint16_t> words;
    for (const CoffSection& section : image.sections) {
        if (!section.loaded()) continue;
        const auto size = static_cast<uint32_t>(section.size);
        for (uint32_t i = 0; 2 * i < size; ++i) {
            const uint8_t high = file[section.data_offset + 2 * i];
            const uint8_t low = 2 * i + 1 < size ? file[section.data_offset + 2 * i + 1] : 0;
            const auto address = static_cast<uint16_t>(section.word_address() + i);
            words[address] = static_cast<uint16_t>(high << 8 | low);
        }
    }
    return words;
}

struct DspWrite {
    uint16_t address;
    uint8_t dsp;
    std::vector<uint16_t> words;  // as the device stores them: first byte low
};

class LoaderTest : public test::LinkFixture {
  protected:
    sim::Scanner& LinkScanner() {
        auto scanner = std::make_unique<sim::Scanner>();
        scanner_ = scanner.get();
        Link(std::move(scanner));
        return *scanner_;
    }

    std::string WriteFirmware(const Bytes& bytes, const std::string& name = "fw.out") {
        const std::string path = dir() + "/" + name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::vector<DspWrite> DspWrites() const {
        std::vector<DspWrite> writes;
        for (const Bytes& packet : scanner_->packets()) {
            if (packet.size() < 7 || packet[0] != kWriteDspWords) continue;
            DspWrite write{static_cast<uint16_t>(packet[3] | packet[4] << 8), packet[6], {}};
            for (std::size_t i = 7; i + 1 < packet.size(); i += 2) {
                write.words.push_back(static_cast<uint16_t>(packet[i] | packet[i + 1] << 8));
            }
            EXPECT_EQ(write.words.size(), packet[5]);
            writes.push_back(write);
        }
        return writes;
    }

    void ExpectMemory(int dsp, const std::map<uint16_t, uint16_t>& words) {
        int wrong = 0;
        for (const auto& [address, value] : words) {
            if (scanner_->dsp_word(dsp, address) != value && ++wrong <= 5) {
                ADD_FAILURE() << "DSP " << dsp << " word 0x" << std::hex << address << " holds 0x"
                              << scanner_->dsp_word(dsp, address) << ", file has 0x" << value;
            }
        }
        EXPECT_EQ(wrong, 0);
    }

    sim::Scanner* scanner_ = nullptr;
};

class DefaultFirmwareLoad : public LoaderTest, public ::testing::WithParamInterface<int> {};

TEST_P(DefaultFirmwareLoad, SectionsAndStartWordsReachTheDsp) {
    const int dsp = GetParam();
    LinkScanner();
    const Bytes file = coff::Write(coff::DefaultFirmware());
    ASSERT_EQ(Zerik_LoadDspFW(dev_, dsp, WriteFirmware(file).c_str()), 0);

    std::map<uint16_t, uint16_t> expected = ExpectedMemory(file);
    ASSERT_EQ(expected[coff::kFirmwareVersionWord], coff::kDefaultFirmwareVersion);
    expected[kDspNumberWord] = static_cast<uint16_t>(dsp);
    expected[kEntryLowWord] = 0x0400;
    expected[kEntryHighWord] = 0x0101;
    ExpectMemory(dsp, expected);
    EXPECT_TRUE(scanner_->dsp_running(dsp));
    EXPECT_EQ(scanner_->dsp_entry_point(dsp), 0x10400u);

    // The start words go last, in this order, each to the DSP loaded.
    const std::vector<DspWrite> writes = DspWrites();
    ASSERT_GE(writes.size(), 3u);
    const std::size_t n = writes.size();
    EXPECT_EQ(writes[n - 3].address, kDspNumberWord);
    EXPECT_EQ(writes[n - 2].address, kEntryLowWord);
    EXPECT_EQ(writes[n - 1].address, kEntryHighWord);
    for (const DspWrite& write : writes) EXPECT_EQ(write.dsp, dsp);

    // One line per section header, one per loaded section (the code, the
    // initialised data and the version; not the uninitialised section).
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "sechdr.C2.iFlags="), 4);
    EXPECT_EQ(CountOf(log, "sechdr.C2.iFlags=20 Addr=10400 Len=1A5\n"), 1);
    EXPECT_EQ(CountOf(log, "sechdr.C2.iFlags=80 Addr=3000 Len=200\n"), 1);
    EXPECT_EQ(CountOf(log, "]: Addr=0x"), 3);
    EXPECT_EQ(CountOf(log, "]: Addr=0x8200 Len=0x1A5\n"), 1);
    EXPECT_EQ(CountOf(log, "]: Addr=0x1000 Len=0x60\n"), 1);
    EXPECT_EQ(CountOf(log, "]: Addr=0x7F80 Len=0x2\n"), 1);
    EXPECT_EQ(CountOf(log, "]: Load End\n"), 1);
    EXPECT_LT(log.find("Addr=0x8200"), log.find("sechdr.C2.iFlags=40 Addr=2000"));
}

INSTANTIATE_TEST_SUITE_P(EachDsp, DefaultFirmwareLoad, ::testing::Values(0, 1));

class RealExecutableLoad : public LoaderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealExecutableLoad, DspMemoryHoldsTheFilesSections) {
    LinkScanner();
    const std::filesystem::path path =
        std::filesystem::path(ZERIK_SOURCE_DIR) / "tests" / "data" / "coff" / GetParam();
    const Bytes file = ReadBytes(path);
    ASSERT_FALSE(file.empty()) << path;
    ASSERT_EQ(Zerik_LoadDspFW(dev_, 1, path.c_str()), 0);
    const FirmwareImage image = ParseFirmware(file);
    std::map<uint16_t, uint16_t> expected = ExpectedMemory(file);
    expected[kDspNumberWord] = 1;
    expected[kEntryLowWord] = static_cast<uint16_t>(image.entry_point);
    expected[kEntryHighWord] = static_cast<uint16_t>(0x0100 | (image.entry_point >> 16 & 0xFF));
    ExpectMemory(1, expected);
    EXPECT_EQ(scanner_->dsp_entry_point(1), image.entry_point);
}

INSTANTIATE_TEST_SUITE_P(PublicExecutables, RealExecutableLoad,
                         ::testing::Values("c55x_5502_starter.out", "c55x_ezdsp5535_led.out"));

TEST_F(LoaderTest, SectionGoesOutInPiecesOf28Words) {
    LinkScanner();
    coff::Executable exe;
    Bytes data(0x120);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    exe.sections.push_back({".text", 0x10000, coff::kCodeSection, data, 0});
    ASSERT_EQ(Zerik_LoadDspFW(dev_, 0, WriteFirmware(coff::Write(exe)).c_str()), 0);

    const std::vector<DspWrite> writes = DspWrites();
    ASSERT_EQ(writes.size(), 6u + 3u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(writes[i].address, 0x8000 + 28 * i);
        EXPECT_EQ(writes[i].words.size(), i < 5 ? 28u : 4u);
    }
    EXPECT_EQ(CountOf(Log(), "]: Addr=0x8000 Len=0x120\n"), 1);
}

TEST_F(LoaderTest, OddSectionAtTheEndOfTheFileIsPaddedWithZero) {
    LinkScanner();
    coff::Executable exe;
    exe.sections.push_back({".text", 0x200, coff::kCodeSection, {0xA1, 0xB2, 0xC3}, 0});
    Bytes file = coff::Write(exe);
    ASSERT_EQ(ParseFirmware(file).sections[0].data_offset + 3, file.size());
    ASSERT_EQ(Zerik_LoadDspFW(dev_, 0, WriteFirmware(file).c_str()), 0);

    EXPECT_EQ(scanner_->dsp_word(0, 0x100), 0xA1B2);
    EXPECT_EQ(scanner_->dsp_word(0, 0x101), 0xC300);
    const std::vector<DspWrite> writes = DspWrites();
    ASSERT_EQ(writes.size(), 1u + 3u);
    EXPECT_EQ(writes[0].words, (std::vector<uint16_t>{0xA1B2, 0xC300}));
    EXPECT_EQ(CountOf(Log(), "]: Addr=0x100 Len=0x3\n"), 1);
}

TEST_F(LoaderTest, FileWithoutSectionsStillWritesTheStartWords) {
    LinkScanner();
    coff::Executable exe;
    exe.entry_point = 0x01ABCD;
    ASSERT_EQ(Zerik_LoadDspFW(dev_, 1, WriteFirmware(coff::Write(exe)).c_str()), 0);
    const std::vector<DspWrite> writes = DspWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].address, kDspNumberWord);
    EXPECT_EQ(writes[0].words, std::vector<uint16_t>{1});
    EXPECT_EQ(writes[1].address, kEntryLowWord);
    EXPECT_EQ(writes[1].words, std::vector<uint16_t>{0xABCD});
    EXPECT_EQ(writes[2].address, kEntryHighWord);
    EXPECT_EQ(writes[2].words, std::vector<uint16_t>{0x0101});
    EXPECT_EQ(CountOf(Log(), "sechdr"), 0);
    EXPECT_EQ(CountOf(Log(), "]: Load End\n"), 1);
}

struct RefusedFile {
    const char* what;
    void (*apply)(Bytes& file);
};

const RefusedFile kRefusedFiles[] = {
    {"header cut short", [](Bytes& f) { f.resize(20); }},
    {"no optional header", [](Bytes& f) { coff::Put16(f, coff::kOptionalSizeField, 0); }},
    {"optional header of 32 bytes", [](Bytes& f) { coff::Put16(f, coff::kOptionalSizeField, 32); }},
    {"section headers cut short", [](Bytes& f) { f.resize(coff::SectionHeaderOffset(2) - 1); }},
    {"last section's data runs past the end",
     [](Bytes& f) {
         const std::size_t at = coff::SectionHeaderOffset(1) + coff::kSectionSizeField;
         coff::Put32(f, at, f[at] + 1u);
     }},
    {"data offset far beyond the file",
     [](Bytes& f) {
         coff::Put32(f, coff::SectionHeaderOffset(0) + coff::kSectionDataField, 0x40000000);
     }},
};

class RefusedFirmware : public LoaderTest, public ::testing::WithParamInterface<RefusedFile> {};

TEST_P(RefusedFirmware, LoadsNothingAndReturnsMinusOne) {
    LinkScanner();
    coff::Executable exe;
    exe.entry_point = 0x400;
    exe.sections.push_back({".text", 0x400, coff::kCodeSection, coff::Words({1, 2, 3, 4}), 0});
    exe.sections.push_back({".data", 0x800, coff::kDataSection, coff::Words({5, 6}), 0});
    Bytes file = coff::Write(exe);
    GetParam().apply(file);
    EXPECT_EQ(Zerik_LoadDspFW(dev_, 0, WriteFirmware(file).c_str()), -1) << GetParam().what;
    EXPECT_TRUE(DspWrites().empty());
    EXPECT_EQ(Log(), "");
}

INSTANTIATE_TEST_SUITE_P(BrokenFiles, RefusedFirmware, ::testing::ValuesIn(kRefusedFiles));

TEST_F(LoaderTest, MissingFileOrFolderReturnsMinusOneAndSendsNothing) {
    LinkScanner();
    EXPECT_EQ(Zerik_LoadDspFW(dev_, 0, (dir() + "/none.out").c_str()), -1);
    EXPECT_EQ(Zerik_LoadDspFW(dev_, 0, dir().c_str()), -1);
    EXPECT_EQ(Zerik_LoadDspFW(dev_, 0, nullptr), -1);
    EXPECT_TRUE(DspWrites().empty());
    EXPECT_EQ(Log(), "");
}

TEST_F(LoaderTest, BadArgumentsReturnMinusOne) {
    LinkScanner();
    const std::string path = WriteFirmware(coff::Write(coff::DefaultFirmware()));
    EXPECT_EQ(Zerik_LoadDspFW(nullptr, 0, path.c_str()), -1);
    EXPECT_EQ(Zerik_LoadDspFW(dev_, 2, path.c_str()), -1);
    EXPECT_EQ(Zerik_LoadDspFW(dev_, -1, path.c_str()), -1);
    EXPECT_TRUE(DspWrites().empty());
}

TEST_F(LoaderTest, UnconnectedDeviceStillReportsTheLoad) {
    LinkScanner();
    dev_->Connected.store(0);
    const std::string path = WriteFirmware(coff::Write(coff::DefaultFirmware()));
    EXPECT_EQ(Zerik_LoadDspFW(dev_, 0, path.c_str()), 0);
    EXPECT_TRUE(DspWrites().empty());
    EXPECT_EQ(CountOf(Log(), "sechdr.C2.iFlags="), 4);
    EXPECT_EQ(CountOf(Log(), "]: Load End\n"), 1);
}

TEST_F(LoaderTest, GeneratedFirmwareFileIsTheDefaultImage) {
    const std::filesystem::path built =
        std::filesystem::path(ZERIK_BINARY_DIR) / "share" / "zerik" / "drivers" / "zerik_dsp.out";
    EXPECT_EQ(ReadBytes(built), coff::Write(coff::DefaultFirmware()));
}

}  // namespace
}  // namespace zerik
