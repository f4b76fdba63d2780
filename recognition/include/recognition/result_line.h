// Result lines (960-byte records written by the sheet simulator), short result lines
// (948-byte page records) and the column-value file "1.41".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "recognition/parameter_file.h"
#include "recognition/raw_page.h"

namespace recognition {

inline constexpr std::size_t kResultLineBytes = 960;
inline constexpr std::size_t kShortResultLineBytes = 948;
inline constexpr std::size_t kHalfImageBytes = 856;
// Darkness values of 64 and above mean the end of the mark data.
inline constexpr std::uint8_t kEndOfMarks = 64;
inline constexpr std::uint8_t kEventMarker = 0xFF;
// Room for decoded characters in a barcode event.
inline constexpr std::size_t kMaxEventText = 47;

namespace result_offset {
inline constexpr std::size_t kHeader = 0;
inline constexpr std::size_t kImage = 8;
inline constexpr std::size_t kColumnCount = 864;
inline constexpr std::size_t kDarkness = 865;
inline constexpr std::size_t kEventLength = 906;
inline constexpr std::size_t kEventBody = 907;
inline constexpr std::size_t kBarSampleCount = 8;
inline constexpr std::size_t kBarSamples = 10;
}  // namespace result_offset

// The mark codes of the row completed most recently: codes[0] is column 1.
struct RowEvent {
    std::uint8_t row = 0;
    std::vector<std::uint8_t> codes;
};

// Ends a sheet's events: cut state, barcode result code and the decoded characters.
struct BarcodeEvent {
    std::uint8_t err = 0;
    std::uint8_t shift = 0;
    std::uint8_t result = 0;
    std::string text;
};

using LineEvent = std::variant<std::monostate, RowEvent, BarcodeEvent>;

struct ResultLine {
    std::array<std::uint8_t, 8> header{};
    // Shaded pixels 16+q, 18+q, ..., 1726+q of the raw line, q being the line's parity.
    std::array<std::uint8_t, kHalfImageBytes> image{};
    std::uint8_t column_count = 0;
    // All 41 bytes are stored; only the first column_count are significant.
    std::array<std::uint8_t, kMaxColumns> darkness{};
    LineEvent event;
};

using ResultRecord = std::array<std::uint8_t, kResultLineBytes>;

// Bytes that carry no meaning are written as 0. A row event takes at most 40 codes and a
// barcode event at most 47 characters; the rest is cut off.
ResultRecord encode_result_line(const ResultLine& line);
// Reads the event as the page viewer does: none when byte 906 is 0, a barcode event when
// byte 907 is 0xFF, else a row event of byte 906 − 1 codes. Counts that would reach past
// the record are cut at its end.
ResultLine decode_result_line(std::span<const std::uint8_t, kResultLineBytes> record);

// The whole records of a file; a trailing partial record is dropped.
std::vector<ResultRecord> split_result_records(std::span<const std::uint8_t> file_bytes);

// Half-resolution image of a (shaded) raw line: positions 16+parity, 18+parity, ...
void pack_half_image(const RawLine& line, int parity,
                     std::span<std::uint8_t, kHalfImageBytes> image);
// Puts the image back at positions 16+parity, 18+parity, ...; other positions keep
// what the buffer held.
void unpack_half_image(std::span<const std::uint8_t, kHalfImageBytes> image, int parity,
                       RawLine& buffer);

// The fields of a short result line that the replay tools use.
struct ShortResultLine {
    bool bar_sample_line = false;                      // byte 907 is 0xFF
    std::vector<std::uint8_t> bar_samples;             // count at bytes 8..9, samples from byte 10
    std::int8_t column_count = 0;                      // byte 864, signed
    std::array<std::uint8_t, kMaxColumns> darkness{};  // bytes 865..905
};

using ShortResultRecord = std::array<std::uint8_t, kShortResultLineBytes>;

// At most 854 samples are written so that they stay clear of the column fields.
ShortResultRecord encode_short_result_line(const ShortResultLine& line);
// The sample count is cut at the 938 bytes that follow it in the record.
ShortResultLine decode_short_result_line(
    std::span<const std::uint8_t, kShortResultLineBytes> record);
std::vector<ShortResultRecord> split_short_result_records(std::span<const std::uint8_t> file_bytes);

// "1.41": one 41-byte row per result line.
inline constexpr std::size_t kColumnValueRowBytes = kMaxColumns;
inline constexpr std::size_t kColumnValueRowsWritten = 2700;
inline constexpr std::size_t kColumnValueRowsRead = 3000;
using ColumnValueRow = std::array<std::uint8_t, kColumnValueRowBytes>;

// Bytes 865..905 of the record whatever its column count; all 64 for a barcode event,
// so that the row marks the end of the mark data.
ColumnValueRow column_value_row(std::span<const std::uint8_t, kResultLineBytes> record);
// The 3000-row table a reader fills from the file, zero where the file has no bytes.
std::vector<std::uint8_t> column_value_table(std::span<const std::uint8_t> file_bytes);

}  // namespace recognition
