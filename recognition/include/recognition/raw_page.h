// Raw page files (lines as the device delivers them) and the shading table "red.tbl".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace recognition {

inline constexpr std::size_t kRawLineBytes = 1728;
// Bytes 0..15 of a raw line are the device's line header; pixels follow.
inline constexpr std::size_t kLineHeaderBytes = 16;
inline constexpr std::size_t kFirstPixel = kLineHeaderBytes;

using RawLine = std::array<std::uint8_t, kRawLineBytes>;

// The whole lines of a raw page file; a trailing incomplete line is dropped.
std::vector<RawLine> split_raw_lines(std::span<const std::uint8_t> file_bytes);
std::vector<std::uint8_t> join_raw_lines(std::span<const RawLine> lines);

// Bit 0 of header byte 6: the sampling parity a result-line reader assumes for the line.
int sampling_parity(std::span<const std::uint8_t> line_start);

inline constexpr std::size_t kShadingHeaderBytes = 32;

// One entry per line position: dark offset in bits 15..8, gain in 1/16 steps in bits 7..0.
struct ShadingTable {
    std::array<std::uint16_t, kRawLineBytes> entries{};
};

// Skips the 32-byte header; entries missing at the end of the file stay 0.
ShadingTable parse_shading_table(std::span<const std::uint8_t> file_bytes);
// A zero header followed by all 1728 entries.
std::vector<std::uint8_t> serialize_shading_table(const ShadingTable& table);

constexpr std::uint16_t shading_entry(std::uint8_t dark_offset, std::uint8_t gain) {
    return static_cast<std::uint16_t>((dark_offset << 8) | gain);
}

// The device's 16-bit correction: the product wraps to a signed 16-bit value before the
// shift, results above 254 are clamped to 254 and the low byte is kept. Inline: it runs for
// every pixel of every line.
constexpr std::uint8_t shade_pixel(std::uint8_t pixel, std::uint16_t entry) {
    const int gain = entry & 0xFF;
    const int dark_offset = entry >> 8;
    const int a = 4 * pixel + 2;
    const int b = 4 * dark_offset;
    const int d = a > b ? a - b : 0;
    const auto product = static_cast<std::int16_t>(d * gain);
    const int r = product >> 6;
    return static_cast<std::uint8_t>(r > 254 ? 254 : r);
}

// Corrects pixels 16..1727; the line header is left as it is.
void apply_shading(const ShadingTable& table, RawLine& line);

}  // namespace recognition
