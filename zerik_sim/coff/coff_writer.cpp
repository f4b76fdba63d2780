#include "coff_writer.h"

#include <algorithm>
#include <fstream>

namespace zerik::coff {
namespace {

constexpr uint16_t kVersionId = 0x00C2;
constexpr uint16_t kTargetId = 0x009C;   // C5500 family
constexpr uint16_t kFileFlags = 0x0203;  // no relocations, executable, big-endian data
constexpr uint16_t kOptionalMagic = 0x0108;
constexpr std::size_t kNameBytes = 8;

uint32_t SectionSize(const Section& section) {
    return section.data.empty() ? section.size : static_cast<uint32_t>(section.data.size());
}

}  // namespace

std::size_t SectionHeaderOffset(std::size_t index) {
    return kFileHeaderBytes + kOptionalHeaderBytes + index * kSectionHeaderBytes;
}

void Put16(std::vector<uint8_t>& file, std::size_t at, uint16_t value) {
    file[at] = static_cast<uint8_t>(value);
    file[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& file, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Write(const Executable& executable) {
    const std::size_t count = executable.sections.size();
    std::vector<uint8_t> file(SectionHeaderOffset(count), 0);
    Put16(file, 0, kVersionId);
    Put16(file, kSectionCountField, static_cast<uint16_t>(count));
    Put16(file, kOptionalSizeField, static_cast<uint16_t>(kOptionalHeaderBytes));
    Put16(file, 18, kFileFlags);
    Put16(file, 20, kTargetId);

    uint32_t code_size = 0;
    uint32_t data_size = 0;
    uint32_t bss_size = 0;
    uint32_t code_start = 0;
    uint32_t data_start = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Section& section = executable.sections[i];
        const std::size_t at = SectionHeaderOffset(i);
        std::copy_n(section.name.begin(), std::min(section.name.size(), kNameBytes),
                    file.begin() + static_cast<std::ptrdiff_t>(at));
        Put32(file, at + kSectionAddressField, section.address);
        Put32(file, at + 12, section.address);
        Put32(file, at + kSectionSizeField, SectionSize(section));
        if (!section.data.empty()) {
            Put32(file, at + kSectionDataField, static_cast<uint32_t>(file.size()));
            file.insert(file.end(), section.data.begin(), section.data.end());
        }
        Put32(file, at + kSectionFlagsField, section.flags);
        if (section.flags & kCodeSection) {
            if (code_size == 0) code_start = section.address;
            code_size += SectionSize(section);
        } else if (section.flags & kDataSection) {
            if (data_size == 0) data_start = section.address;
            data_size += SectionSize(section);
        } else {
            bss_size += SectionSize(section);
        }
    }
    const std::size_t optional = kFileHeaderBytes;
    Put16(file, optional, kOptionalMagic);
    Put32(file, optional + 4, code_size);
    Put32(file, optional + 8, data_size);
    Put32(file, optional + 12, bss_size);
    Put32(file, optional + 16, executable.entry_point);
    Put32(file, optional + 20, code_start);
    Put32(file, optional + 24, data_start);
    return file;
}

bool WriteFile(const std::string& path, const Executable& executable) {
    const std::vector<uint8_t> bytes = Write(executable);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

std::vector<uint8_t> Words(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * words.size());
    for (const uint16_t word : words) {
        bytes.push_back(static_cast<uint8_t>(word >> 8));
        bytes.push_back(static_cast<uint8_t>(word));
    }
    return bytes;
}

Executable DefaultFirmware() {
    Executable firmware;
    firmware.entry_point = 0x10400;

    Section code{".text", 0x10400, kCodeSection, {}, 0};
    // A fixed, varied byte sequence: a misplaced or reordered byte shows.
    uint32_t state = 0x2F6B1D35;
    for (int i = 0; i < 0x1A5; ++i) {
        state = state * 1103515245u + 12345u;
        code.data.push_back(static_cast<uint8_t>(state >> 16));
    }

    Section cinit{".cinit", 0x2000, kDataSection, {}, 0};
    for (uint16_t i = 0; i < 48; ++i) {
        const auto word = static_cast<uint16_t>(0xC000 | i << 4 | (i & 0xF));
        cinit.data.push_back(static_cast<uint8_t>(word >> 8));
        cinit.data.push_back(static_cast<uint8_t>(word));
    }

    Section version{".version", 2u * kFirmwareVersionWord, kDataSection,
                    Words({kDefaultFirmwareVersion}), 0};
    Section bss{".bss", 0x3000, kUninitialisedSection, {}, 0x200};

    firmware.sections = {code, cinit, bss, version};
    return firmware;
}

}  // namespace zerik::coff
