#include "recognition/map_file.h"

#include <algorithm>

namespace recognition {
namespace {

constexpr std::size_t kMaxRecordLength = 255;
// Decoded characters are all above 5, result codes are 0..5.
constexpr std::uint8_t kHighestResultCode = 5;

std::size_t map_entry_size(const MapBarcodeEntry& entry) {
    return entry.text.size() + 3;
}

}  // namespace

void append_map_row(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    const std::size_t count = std::min(bytes.size(), kMaxRecordLength);
    out.push_back(kMapRowTag);
    out.push_back(static_cast<std::uint8_t>(count));
    out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

void append_map_end(std::vector<std::uint8_t>& out, int err, int shift, int fch, int pass) {
    out.push_back(kMapEndTag);
    for (int value : {err, shift, fch, pass}) out.push_back(static_cast<std::uint8_t>(value));
}

std::size_t map_entries_that_fit(std::span<const MapBarcodeEntry> entries) {
    std::size_t length = 0;
    std::size_t kept = 0;
    for (; kept < entries.size(); ++kept) {
        length += map_entry_size(entries[kept]);
        if (length > kMaxRecordLength) break;
    }
    return kept;
}

void append_map_barcode(std::vector<std::uint8_t>& out, std::span<const MapBarcodeEntry> entries) {
    out.push_back(kMapBarcodeTag);
    const std::size_t length_at = out.size();
    out.push_back(0);
    for (const MapBarcodeEntry& entry : entries.first(map_entries_that_fit(entries))) {
        out.push_back(entry.row);
        out.push_back(entry.column);
        out.insert(out.end(), entry.text.begin(), entry.text.end());
        out.push_back(entry.result);
    }
    out[length_at] = static_cast<std::uint8_t>(out.size() - length_at - 1);
}

MapFile parse_map_file(std::span<const std::uint8_t> bytes) {
    MapFile map;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t tag = bytes[i];
        if (tag == kMapRowTag) {
            if (i + 2 > bytes.size() || i + 2 + bytes[i + 1] > bytes.size()) return map;
            const std::size_t count = bytes[i + 1];
            map.rows.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(i + 2),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(i + 2 + count));
            i += 2 + count;
        } else if (tag == kMapEndTag) {
            if (i + 5 > bytes.size()) return map;
            map.end =
                std::array<std::uint8_t, 4>{bytes[i + 1], bytes[i + 2], bytes[i + 3], bytes[i + 4]};
            i += 5;
        } else if (tag == kMapBarcodeTag) {
            if (i + 2 > bytes.size() || i + 2 + bytes[i + 1] > bytes.size()) return map;
            const auto body = bytes.subspan(i + 2, bytes[i + 1]);
            std::vector<MapBarcodeEntry> entries;
            std::size_t k = 0;
            while (k < body.size()) {
                if (k + 3 > body.size()) return map;
                MapBarcodeEntry entry;
                entry.row = body[k];
                entry.column = body[k + 1];
                k += 2;
                while (k < body.size() && body[k] > kHighestResultCode) {
                    entry.text.push_back(static_cast<char>(body[k++]));
                }
                if (k >= body.size()) return map;
                entry.result = body[k++];
                entries.push_back(std::move(entry));
            }
            map.barcodes = std::move(entries);
            i += 2 + body.size();
        } else {
            return map;
        }
    }
    map.well_formed = true;
    return map;
}

}  // namespace recognition
