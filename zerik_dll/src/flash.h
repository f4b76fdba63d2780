// The scanner's configuration flash: raw access to the chip's address space,
// identification, block erase, programming in pieces and the gamma tables.
#pragma once

#include <array>
#include <cstdint>

namespace zerik {

// The two chips the scanner may carry.
constexpr uint32_t kFlashPagedChip = 0xBF04;  // 256-byte sectors, single-cycle commands
constexpr uint32_t kFlashJedecChip = 0xBFD7;  // 4096-byte sectors, three-cycle commands

constexpr int32_t kMaxFlashRawBytes = 50;      // per raw read or write
constexpr int32_t kMaxFlashProgramBytes = 56;  // per program command: 5 + 56 fill the packet
constexpr uint32_t kFlashPieceBytes = 32;      // what the buffered programming sends at once
constexpr uint32_t kFlashPageBytes = 256;      // a piece never crosses such a page
constexpr uint32_t kFlashEraseBlock = 4096;

// The erase waits for each sector: 20 ms, then a status read every 100 ms.
// A sector still busy after this many polls counts as failed.
constexpr uint32_t kSectorFirstWaitMs = 20;
constexpr uint32_t kSectorPollMs = 100;
constexpr int kSectorPolls = 10;

// Gamma tables: the argument holds, per layer, 256 bytes for DSP 0 and 256
// for DSP 1; the flash holds them as words after a 32-byte header.
constexpr std::size_t kGammaTableBytes = 1536;
constexpr uint32_t kGammaHeaderAddress = 0;
constexpr uint32_t kGammaHeaderBytes = 32;
constexpr uint32_t kGammaImageAddress = 0x20;
constexpr std::size_t kGammaImageBytes = 3072;
constexpr uint32_t kGammaReadBytes = 32;

struct FlashPiece {
    uint32_t address;
    uint32_t offset;  // into the caller's data
    uint32_t size;
};

// The piece of a buffer of `length` bytes at `address` that starts at
// `offset` (below length): at most 32 bytes, never crossing a 256-byte page.
FlashPiece NextFlashPiece(uint32_t address, uint32_t offset, uint32_t length);

// The flash image of the gamma tables: 1536 words, DSP 0's three tables
// first, each entry a word stored low byte first.
std::array<uint8_t, kGammaImageBytes> GammaFlashImage(const uint8_t* table);

// The 32-byte block header that marks stored gamma tables.
std::array<uint8_t, kGammaHeaderBytes> GammaHeader();

}  // namespace zerik
