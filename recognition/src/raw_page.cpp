#include "recognition/raw_page.h"

#include <algorithm>

#include "recognition/byte_order.h"

namespace recognition {

std::vector<RawLine> split_raw_lines(std::span<const std::uint8_t> file_bytes) {
    std::vector<RawLine> lines(file_bytes.size() / kRawLineBytes);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::copy_n(file_bytes.begin() + static_cast<std::ptrdiff_t>(i * kRawLineBytes),
                    kRawLineBytes, lines[i].begin());
    }
    return lines;
}

std::vector<std::uint8_t> join_raw_lines(std::span<const RawLine> lines) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(lines.size() * kRawLineBytes);
    for (const RawLine& line : lines) bytes.insert(bytes.end(), line.begin(), line.end());
    return bytes;
}

int sampling_parity(std::span<const std::uint8_t> line_start) {
    return line_start[6] & 1;
}

ShadingTable parse_shading_table(std::span<const std::uint8_t> file_bytes) {
    ShadingTable table;
    if (file_bytes.size() <= kShadingHeaderBytes) return table;
    const auto body = file_bytes.subspan(kShadingHeaderBytes);
    const std::size_t complete = std::min(body.size() / 2, table.entries.size());
    for (std::size_t i = 0; i < complete; ++i) table.entries[i] = load_u16le(body, 2 * i);
    return table;
}

std::vector<std::uint8_t> serialize_shading_table(const ShadingTable& table) {
    std::vector<std::uint8_t> bytes(kShadingHeaderBytes + 2 * table.entries.size(), 0);
    for (std::size_t i = 0; i < table.entries.size(); ++i) {
        store_u16le(bytes, kShadingHeaderBytes + 2 * i, table.entries[i]);
    }
    return bytes;
}

std::uint8_t shade_pixel(std::uint8_t pixel, std::uint16_t entry) {
    const int gain = entry & 0xFF;
    const int dark_offset = entry >> 8;
    const int a = 4 * pixel + 2;
    const int b = 4 * dark_offset;
    const int d = a > b ? a - b : 0;
    // The device multiplies in a 16-bit register: the product wraps before the shift.
    const std::int16_t product = static_cast<std::int16_t>(d * gain);
    int r = product >> 6;
    if (r > 254) r = 254;
    return static_cast<std::uint8_t>(r);
}

void apply_shading(const ShadingTable& table, RawLine& line) {
    for (std::size_t x = kFirstPixel; x < kRawLineBytes; ++x) {
        line[x] = shade_pixel(line[x], table.entries[x]);
    }
}

}  // namespace recognition
