// The shared library's dynamic symbol table holds the C interface and
// nothing else: read from the ELF file itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kSectionDynSym = 11;
constexpr uint16_t kUndefinedSection = 0;
constexpr uint8_t kBindGlobal = 1;
constexpr uint8_t kBindWeak = 2;
constexpr uint8_t kBindUnique = 10;

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint64_t Le(const std::vector<uint8_t>& bytes, uint64_t at, int size) {
    if (at + static_cast<uint64_t>(size) > bytes.size()) throw std::out_of_range("ELF field");
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + static_cast<uint64_t>(i)];
    return value;
}

// Names of the symbols a 64-bit little-endian ELF file exports: defined
// entries of .dynsym with global, weak or unique binding.
std::set<std::string> DynamicExports(const std::vector<uint8_t>& elf) {
    std::set<std::string> names;
    if (elf.size() < 64 || elf[0] != 0x7F || elf[1] != 'E' || elf[2] != 'L' || elf[3] != 'F' ||
        elf[4] != 2 || elf[5] != 1) {
        ADD_FAILURE() << "not a 64-bit little-endian ELF file";
        return names;
    }
    const uint64_t section_table = Le(elf, 0x28, 8);
    const uint64_t section_entry = Le(elf, 0x3A, 2);
    const uint64_t sections = Le(elf, 0x3C, 2);
    auto section = [&](uint64_t index, uint64_t field, int size) {
        return Le(elf, section_table + index * section_entry + field, size);
    };
    for (uint64_t s = 0; s < sections; ++s) {
        if (section(s, 4, 4) != kSectionDynSym) continue;
        const uint64_t symbols = section(s, 24, 8);
        const uint64_t size = section(s, 32, 8);
        const uint64_t entry = section(s, 56, 8);
        const uint64_t strings = section(section(s, 40, 4), 24, 8);
        for (uint64_t at = symbols + entry; at + entry <= symbols + size; at += entry) {
            const uint8_t binding = static_cast<uint8_t>(Le(elf, at + 4, 1) >> 4);
            if (Le(elf, at + 6, 2) == kUndefinedSection) continue;
            if (binding != kBindGlobal && binding != kBindWeak && binding != kBindUnique) continue;
            std::string name;
            for (uint64_t c = strings + Le(elf, at, 4); c < elf.size() && elf[c] != 0; ++c) {
                name.push_back(static_cast<char>(elf[c]));
            }
            names.insert(name);
        }
    }
    return names;
}

const std::set<std::string> kInterface = {
    // Device context.
    "Zerik_OpenDevice", "Zerik_CloseDevice",
    // Memory access.
    "Zerik_ReadAddress", "Zerik_WriteAddress", "Zerik_ReadDsp", "Zerik_WriteDsp",
    "Zerik_WriteDspBuffer", "Zerik_WriteDspUshort", "Zerik_ReadDspUshort",
    // Page hand-over.
    "Zerik_SetPageRcvHandler", "Zerik_GetRxPages", "Zerik_GetPipesRxBytes",
    // Link upkeep and firmware.
    "Zerik_SendKeepAlive", "Zerik_ResetDsp", "Zerik_LoadDspFW",
    // Scan set-up.
    "Zerik_SetScanParams", "Zerik_SetScanParamsEx", "Zerik_SetMotorRate", "Zerik_SetLedLightLen",
    "Zerik_GetLedLightLen", "Zerik_LoadGammaTable",
    // Flash.
    "Zerik_ReadFlash", "Zerik_WriteFlash", "Zerik_ProgramFlash", "Zerik_ProgramFlashBuffer",
    "Zerik_CheckFlashChip", "Zerik_EraseFlash", "Zerik_SaveGammaTblToFlash",
    // Machine controls.
    "Zerik_StartScan", "Zerik_StopScan", "Zerik_ResetTH", "Zerik_AdjustSensor",
    "Zerik_SetScanPapers", "Zerik_SetCheckPaperTH", "Zerik_SetPaperType", "Zerik_SetSortType",
    "Zerik_BurnDeviceType", "Zerik_SortPaper", "Zerik_GetMcState", "Zerik_ReadSensorValue",
    "Zerik_PrinterCtrl", "Zerik_LcdCtrl", "Zerik_BurnDeviceVIDPID", "Zerik_ReadE2prom",
    "Zerik_MotorCtrl", "Zerik_FmCtrl", "Zerik_StartNormAction", "Zerik_NormStatusCheck",
    // Page memory.
    "ZkGlobalAlloc", "ZkGlobalLock", "ZkGlobalUnlock", "ZkGlobalFree", "ZkGlobalSize"};

TEST(Exports, SharedLibraryExportsExactlyTheInterface) {
    const std::vector<uint8_t> elf = ReadBytes(ZERIK_DLL_PATH);
    ASSERT_FALSE(elf.empty()) << ZERIK_DLL_PATH;
    const std::set<std::string> exported = DynamicExports(elf);
    std::vector<std::string> missing;
    std::vector<std::string> extra;
    std::set_difference(kInterface.begin(), kInterface.end(), exported.begin(), exported.end(),
                        std::back_inserter(missing));
    std::set_difference(exported.begin(), exported.end(), kInterface.begin(), kInterface.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << "missing: " << ::testing::PrintToString(missing);
    EXPECT_TRUE(extra.empty()) << "not part of the interface: " << ::testing::PrintToString(extra);
}

TEST(Exports, PublicHeaderDeclaresTheSameInterface) {
    std::ifstream in(std::string(ZERIK_SOURCE_DIR) + "/zerik_dll/include/zerik_dll.h");
    const std::string header(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(header.empty());
    const std::regex declaration(R"(ZERIK_API\s+[A-Za-z_0-9\s\*]*?\b((Zerik_|ZkGlobal)\w+)\s*\()");
    std::set<std::string> declared;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), declaration);
         it != std::sregex_iterator(); ++it) {
        declared.insert((*it)[1].str());
    }
    EXPECT_EQ(declared, kInterface);
    int zerik = 0;
    for (const std::string& name : kInterface) zerik += name.rfind("Zerik_", 0) == 0 ? 1 : 0;
    EXPECT_EQ(zerik, 48);
}

}  // namespace
