// The files the console loads into DSP memory: the two shading tables, the
// column-position files and the stop file, parsed into the word buffer that
// is sent to the DSP.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dspmon {

constexpr std::size_t kTableWords = 1728;  // one per pixel of a 200-dpi line
constexpr std::size_t kTableHeaderBytes = 32;
constexpr std::size_t kWordBufWords = 2 * kTableWords;

// Layout of the position block at the start of the word buffer.
constexpr std::size_t kMaxColumns = 41;
constexpr std::size_t kBarIndex = 42;       // barT barX barY barL
constexpr std::size_t kPositionWords = 48;  // the block n sends
constexpr std::size_t kStopIndex = 48;      // stop values follow the block
constexpr std::size_t kClearedWords = 56;   // w clears these before parsing
constexpr std::size_t kMaxStopValues = 48;  // 0x7FD0..0x7FFF
constexpr std::size_t kMaxTextLineLength = 79;

// DSP word addresses.
constexpr uint16_t kTableAddress = 0x6B00;
constexpr uint16_t kPositionAddress = 0x7FA0;

// The console's scratch words; kept in host order, byte-swapped only when
// they are sent.
using WordBuf = std::array<uint16_t, kWordBufWords>;

// Fills `words` from the 16-bit little-endian entries after the 32-byte
// header of a table file; entries the file does not hold keep their value.
void ReadTableWords(std::span<const uint8_t> file, std::span<uint16_t> words);

// What a position file gives: the column positions and the four bar values,
// offsets already added.
struct PositionData {
    std::vector<uint16_t> columns;
    std::array<uint16_t, 4> bar{};
};

enum class PositionFileKind {
    Main,       // posi.asc: a comment line may stand before the bar values
    Alternate,  // posi1.asc: no comment line there
};

// A parse result: the value, or the reason the file is refused.
template <typename T>
struct Parsed {
    std::optional<T> value;
    std::string error;
};

Parsed<PositionData> ParsePositionFile(std::string_view text, PositionFileKind kind);

// Stop values, one decimal number per line; a line starting with '#' makes
// the line after it the next value.
Parsed<std::vector<uint16_t>> ParseStopFile(std::string_view text);

// Stores the position data in the word buffer (count, columns, bar values).
void StorePositions(const PositionData& data, WordBuf& buf);

// The bytes that put `words` into DSP memory through Zerik_WriteDspBuffer:
// each word byte-swapped, laid out little-endian.
std::vector<uint8_t> SwappedWordBytes(std::span<const uint16_t> words);

}  // namespace dspmon
