// The firmware file parser against real TI COFF executables (checked with
// the linker's own map files) and against files broken one field at a time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "coff_writer.h"
#include "firmware_loader.h"

namespace zerik {
namespace {

using Bytes = std::vector<uint8_t>;

std::filesystem::path CoffDataDir() {
    return std::filesystem::path(ZERIK_SOURCE_DIR) / "tests" / "data" / "coff";
}

Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct MapSection {
    uint32_t address = 0;  // bytes
    uint32_t size = 0;     // bytes
    bool initialised = true;
};

struct LinkerMap {
    uint32_t entry_point = 0;
    std::map<std::string, MapSection> sections;
};

// Reads the output sections of a TI linker map: name, page, origin in bytes
// and in words (one of them bracketed), length in bytes or in words (the
// other one '*').
LinkerMap ReadLinkerMap(const std::filesystem::path& path) {
    LinkerMap result;
    std::ifstream in(path);
    std::string line;
    bool in_sections = false;
    while (std::getline(in, line)) {
        if (line.rfind("ENTRY POINT SYMBOL", 0) == 0) {
            result.entry_point = static_cast<uint32_t>(
                std::stoul(line.substr(line.find("address:") + 8), nullptr, 16));
        }
        if (line.rfind("SECTION ALLOCATION MAP", 0) == 0) in_sections = true;
        if (line.rfind("GLOBAL SYMBOLS", 0) == 0) break;
        if (!in_sections || line.empty() || line[0] == ' ' || line[0] == '-') continue;
        for (char& c : line) {
            if (c == '[' || c == ']') c = ' ';
        }
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        if (words.size() < 6 || words[1] != "0") continue;
        MapSection section;
        section.address = static_cast<uint32_t>(std::stoul(words[2], nullptr, 16));
        section.size = words[4] != "*"
                           ? static_cast<uint32_t>(std::stoul(words[4], nullptr, 16))
                           : 2 * static_cast<uint32_t>(std::stoul(words[5], nullptr, 16));
        section.initialised = line.find("UNINITIALIZED") == std::string::npos;
        result.sections[words[0]] = section;
    }
    return result;
}

std::string SectionName(const Bytes& file, std::size_t index) {
    const auto* name = file.data() + coff::SectionHeaderOffset(index);
    return std::string(reinterpret_cast<const char*>(name),
                       strnlen(reinterpret_cast<const char*>(name), 8));
}

class RealFirmwareFile : public ::testing::TestWithParam<const char*> {};

TEST_P(RealFirmwareFile, LoadedSectionsAreTheLinkersInitialisedSections) {
    const Bytes file = ReadBytes(CoffDataDir() / (std::string(GetParam()) + ".out"));
    const LinkerMap map = ReadLinkerMap(CoffDataDir() / (std::string(GetParam()) + ".map"));
    ASSERT_FALSE(file.empty());
    ASSERT_FALSE(map.sections.empty());

    const FirmwareImage image = ParseFirmware(file);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.entry_point, map.entry_point);

    std::map<std::string, MapSection> loaded;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const CoffSection& section = image.sections[i];
        if (!section.loaded()) continue;
        loaded[SectionName(file, i)] = {section.physical_address,
                                        static_cast<uint32_t>(section.size), true};
    }
    std::map<std::string, MapSection> expected;
    for (const auto& [name, section] : map.sections) {
        if (section.initialised && section.size > 0) expected[name] = section;
    }
    ASSERT_EQ(loaded.size(), expected.size());
    for (const auto& [name, section] : expected) {
        ASSERT_TRUE(loaded.count(name)) << name;
        EXPECT_EQ(loaded[name].address, section.address) << name;
        EXPECT_EQ(loaded[name].size, section.size) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(PublicExecutables, RealFirmwareFile,
                         ::testing::Values("c55x_5502_starter", "c55x_ezdsp5535_led"));

TEST(CoffSection, WordAddressHalvesKeepingTheSign) {
    EXPECT_EQ((CoffSection{0x20, 0x10000, 2, 0}.word_address()), 0x8000);
    EXPECT_EQ((CoffSection{0x20, 0x4C1, 2, 0}.word_address()), 0x260);
    EXPECT_EQ((CoffSection{0x20, 0xFFFFFFFE, 2, 0}.word_address()), -1);
}

TEST(CoffSection, OnlyCodeAndInitialisedDataWithBytesAreLoaded) {
    EXPECT_TRUE((CoffSection{0x20, 0, 1, 0}.loaded()));
    EXPECT_TRUE((CoffSection{0x40, 0, 1, 0}.loaded()));
    EXPECT_TRUE((CoffSection{0x8320, 0, 1, 0}.loaded()));
    EXPECT_FALSE((CoffSection{0x80, 0, 1, 0}.loaded()));
    EXPECT_FALSE((CoffSection{0x10, 0, 1, 0}.loaded()));
    EXPECT_FALSE((CoffSection{0x20, 0, 0, 0}.loaded()));
    EXPECT_FALSE((CoffSection{0x40, 0, -4, 0}.loaded()));
}

TEST(CoffWriter, WrittenFileParsesBack) {
    const coff::Executable firmware = coff::DefaultFirmware();
    const Bytes file = coff::Write(firmware);
    const FirmwareImage image = ParseFirmware(file);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.entry_point, firmware.entry_point);
    ASSERT_EQ(image.sections.size(), firmware.sections.size());
    for (std::size_t i = 0; i < firmware.sections.size(); ++i) {
        const coff::Section& written = firmware.sections[i];
        const CoffSection& read = image.sections[i];
        EXPECT_EQ(SectionName(file, i), written.name.substr(0, 8));
        EXPECT_EQ(read.flags, written.flags);
        EXPECT_EQ(read.physical_address, written.address);
        if (written.data.empty()) {
            EXPECT_FALSE(read.loaded());
            EXPECT_EQ(static_cast<uint32_t>(read.size), written.size);
            continue;
        }
        ASSERT_TRUE(read.loaded());
        ASSERT_EQ(static_cast<std::size_t>(read.size), written.data.size());
        EXPECT_TRUE(
            std::equal(written.data.begin(), written.data.end(), file.begin() + read.data_offset));
    }
}

// A small well-formed file: a code section, then a data section whose raw
// data ends the file.
Bytes SmallFile() {
    coff::Executable exe;
    exe.entry_point = 0x400;
    exe.sections.push_back({".text", 0x400, coff::kCodeSection, coff::Words({1, 2, 3}), 0});
    exe.sections.push_back({".data", 0x800, coff::kDataSection, coff::Words({4, 5}), 0});
    return coff::Write(exe);
}

struct Breakage {
    const char* what;
    void (*apply)(Bytes& file);
    CoffError error;
};

const Breakage kBreakages[] = {
    {"file header cut short", [](Bytes& f) { f.resize(21); }, CoffError::ShortFileHeader},
    {"empty file", [](Bytes& f) { f.clear(); }, CoffError::ShortFileHeader},
    {"no optional header", [](Bytes& f) { coff::Put16(f, coff::kOptionalSizeField, 0); },
     CoffError::UnsupportedOptionalHeader},
    {"optional header of 30 bytes", [](Bytes& f) { coff::Put16(f, coff::kOptionalSizeField, 30); },
     CoffError::UnsupportedOptionalHeader},
    {"optional header cut short", [](Bytes& f) { f.resize(40); }, CoffError::ShortOptionalHeader},
    {"section headers cut short", [](Bytes& f) { f.resize(coff::SectionHeaderOffset(1) + 47); },
     CoffError::ShortSectionHeaders},
    {"more section headers than the file holds",
     [](Bytes& f) { coff::Put16(f, coff::kSectionCountField, 0xFFFF); },
     CoffError::ShortSectionHeaders},
    {"data one byte past the end",
     [](Bytes& f) { coff::Put32(f, coff::SectionHeaderOffset(1) + coff::kSectionSizeField, 5); },
     CoffError::SectionDataOutsideFile},
    {"data offset beyond the file",
     [](Bytes& f) {
         coff::Put32(f, coff::SectionHeaderOffset(0) + coff::kSectionDataField, 0xFFFFFFF0);
     },
     CoffError::SectionDataOutsideFile},
    {"size that wraps the offset",
     [](Bytes& f) {
         coff::Put32(f, coff::SectionHeaderOffset(0) + coff::kSectionSizeField, 0x7FFFFFFF);
     },
     CoffError::SectionDataOutsideFile},
};

class BrokenFirmwareFile : public ::testing::TestWithParam<Breakage> {};

TEST_P(BrokenFirmwareFile, IsRefusedWithItsReason) {
    Bytes file = SmallFile();
    ASSERT_TRUE(ParseFirmware(file).ok());
    GetParam().apply(file);
    const FirmwareImage image = ParseFirmware(file);
    EXPECT_EQ(image.error, GetParam().error) << GetParam().what;
    EXPECT_TRUE(image.sections.empty());
}

INSTANTIATE_TEST_SUITE_P(OneFieldBroken, BrokenFirmwareFile, ::testing::ValuesIn(kBreakages));

TEST(FirmwareFile, FieldsOfSectionsThatAreNotLoadedAreNotChecked) {
    Bytes file = SmallFile();
    // A negative size makes the section one that is skipped, whatever its offset.
    const std::size_t data = coff::SectionHeaderOffset(0);
    coff::Put32(file, data + coff::kSectionSizeField, 0xFFFFFFF0);
    coff::Put32(file, data + coff::kSectionDataField, 0xFFFFFFF0);
    const FirmwareImage image = ParseFirmware(file);
    ASSERT_TRUE(image.ok());
    EXPECT_FALSE(image.sections[0].loaded());
    EXPECT_TRUE(image.sections[1].loaded());
}

TEST(FirmwareFile, DataEndingExactlyAtTheEndOfTheFileIsAccepted) {
    const Bytes file = SmallFile();
    const FirmwareImage image = ParseFirmware(file);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.sections[1].data_offset + 4u, file.size());
}

TEST(FirmwareFile, NoSectionsIsAValidFile) {
    coff::Executable exe;
    exe.entry_point = 0x12345;
    const FirmwareImage image = ParseFirmware(coff::Write(exe));
    ASSERT_TRUE(image.ok());
    EXPECT_TRUE(image.sections.empty());
    EXPECT_EQ(image.entry_point, 0x12345u);
}

}  // namespace
}  // namespace zerik
