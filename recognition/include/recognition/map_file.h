// Map files "%03d.map": row records, the end record and the barcode record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace recognition {

inline constexpr std::uint8_t kMapRowTag = 0x23;      // '#'
inline constexpr std::uint8_t kMapEndTag = 0x2A;      // '*'
inline constexpr std::uint8_t kMapBarcodeTag = 0x26;  // '&'

// One barcode found down a mark column; its characters are all above 5.
struct MapBarcodeEntry {
    std::uint8_t row = 0;
    std::uint8_t column = 0;
    std::string text;
    std::uint8_t result = 0;
};

// '#', N, then the N bytes (at most 255).
void append_map_row(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes);
// '*', then the low bytes of err, shift, fch and the pass number.
void append_map_end(std::vector<std::uint8_t>& out, int err, int shift, int fch, int pass);
// '&', the number of entry bytes, then the entries. The length is one byte: an entry that
// would take it past 255 is left out, with every entry after it.
void append_map_barcode(std::vector<std::uint8_t>& out, std::span<const MapBarcodeEntry> entries);
// How many entries, from the first, the barcode record's one-byte length can hold.
std::size_t map_entries_that_fit(std::span<const MapBarcodeEntry> entries);

struct MapFile {
    std::vector<std::vector<std::uint8_t>> rows;
    std::optional<std::array<std::uint8_t, 4>> end;  // err, shift, fch, pass
    std::optional<std::vector<MapBarcodeEntry>> barcodes;
    bool well_formed = false;  // every byte belonged to a complete record
};

MapFile parse_map_file(std::span<const std::uint8_t> bytes);

}  // namespace recognition
