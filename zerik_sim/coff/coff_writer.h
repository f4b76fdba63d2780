// A writer of linked TI COFF executables (file header, 28-byte optional
// header, 48-byte section headers, raw data; no symbols, no relocations):
// enough for the firmware image the simulated scanner's host loads and for
// test files, well-formed or deliberately broken.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace zerik::coff {

constexpr uint32_t kCodeSection = 0x20;
constexpr uint32_t kDataSection = 0x40;
constexpr uint32_t kUninitialisedSection = 0x80;

struct Section {
    std::string name;      // at most 8 characters are kept
    uint32_t address = 0;  // physical (load) address in bytes
    uint32_t flags = 0;
    std::vector<uint8_t> data;  // raw data; empty for an uninitialised section
    uint32_t size = 0;          // size of an uninitialised section (else data.size())
};

struct Executable {
    uint32_t entry_point = 0;  // byte address
    std::vector<Section> sections;
};

// Byte offsets of the fields in the file written for an executable, so that
// tests can break one field of a well-formed file.
constexpr std::size_t kFileHeaderBytes = 22;
constexpr std::size_t kOptionalHeaderBytes = 28;
constexpr std::size_t kSectionHeaderBytes = 48;
constexpr std::size_t kSectionCountField = 2;
constexpr std::size_t kOptionalSizeField = 16;
constexpr std::size_t kEntryPointField = kFileHeaderBytes + 16;
std::size_t SectionHeaderOffset(std::size_t index);
constexpr std::size_t kSectionAddressField = 8;
constexpr std::size_t kSectionSizeField = 16;
constexpr std::size_t kSectionDataField = 20;
constexpr std::size_t kSectionFlagsField = 40;

// The file: headers first, then each section's raw data in section order.
std::vector<uint8_t> Write(const Executable& executable);
// Writes the file; false when it cannot be written.
bool WriteFile(const std::string& path, const Executable& executable);

// 16-bit words as raw section data: each word high byte first.
std::vector<uint8_t> Words(std::initializer_list<uint16_t> words);

// Little-endian field helpers for patching a written file.
void Put16(std::vector<uint8_t>& file, std::size_t at, uint16_t value);
void Put32(std::vector<uint8_t>& file, std::size_t at, uint32_t value);

// The firmware the simulated DSPs are given: a code section at byte
// 0x10400 with the entry point there (so the entry's bits 16 to 23 are 1),
// initialised data at byte 0x2000, the version word at DSP word 0x7F80 and
// an uninitialised section that is not loaded. The code section has an odd
// size, as byte-addressed code may.
constexpr uint16_t kDefaultFirmwareVersion = 0x0203;
constexpr uint16_t kFirmwareVersionWord = 0x7F80;
Executable DefaultFirmware();

}  // namespace zerik::coff
