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

static_assert(shade_pixel(200, shading_entry(0, 64)) == 34, "the product wraps at 16 bits");

void apply_shading(const ShadingTable& table, RawLine& line) {
    for (std::size_t x = kFirstPixel; x < kRawLineBytes; ++x) {
        line[x] = shade_pixel(line[x], table.entries[x]);
    }
}

}  // namespace recognition
