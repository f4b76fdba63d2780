// The DSP firmware loader: reads a linked TI COFF executable (version-2
// section headers of 48 bytes), checks the whole file, then writes its code
// and initialised data sections into one DSP and starts it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zerik {

constexpr std::size_t kCoffFileHeaderSize = 22;
constexpr std::size_t kCoffOptionalHeaderSize = 28;
constexpr std::size_t kCoffSectionHeaderSize = 48;
// Flags of the sections that carry bytes to load: code and initialised data.
constexpr uint32_t kCoffLoadedSectionFlags = 0x60;
// A firmware file is a few hundred KiB; anything far beyond is not one.
constexpr std::size_t kMaxFirmwareFileSize = 64u << 20;

// DSP words written after the sections to start the firmware.
constexpr int32_t kDspNumberWord = 0x7F84;
constexpr int32_t kEntryLowWord = 0x61;
constexpr int32_t kEntryHighWord = 0x60;
constexpr uint16_t kStartBit = 0x0100;

struct CoffSection {
    uint32_t flags = 0;
    uint32_t physical_address = 0;  // bytes
    int32_t size = 0;               // bytes of raw data
    uint32_t data_offset = 0;       // file offset of the raw data

    bool loaded() const { return (flags & kCoffLoadedSectionFlags) != 0 && size > 0; }
    // DSP word address: the byte address halved, keeping the sign.
    int32_t word_address() const { return static_cast<int32_t>(physical_address) >> 1; }
};

enum class CoffError {
    None,
    ShortFileHeader,
    UnsupportedOptionalHeader,  // optional-header size other than 28
    ShortOptionalHeader,
    ShortSectionHeaders,
    SectionDataOutsideFile,
    FileTooLarge,
};

struct FirmwareImage {
    CoffError error = CoffError::None;
    uint32_t entry_point = 0;  // byte address
    // Every section header in file order; the raw data of each loaded one
    // lies wholly inside the parsed file.
    std::vector<CoffSection> sections;

    bool ok() const { return error == CoffError::None; }
};

// Parses and checks a whole firmware file held in memory. A file that could
// make the loader read outside it is refused with the reason.
FirmwareImage ParseFirmware(std::span<const uint8_t> file);

}  // namespace zerik
