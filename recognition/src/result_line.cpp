#include "recognition/result_line.h"

#include <algorithm>

#include "recognition/byte_order.h"

namespace recognition {
namespace {

namespace off = result_offset;

constexpr std::size_t kMaxRowCodes = kMaxColumns - 1;
// Fields of a barcode event after its marker byte.
constexpr std::size_t kBarcodeErr = 908;
constexpr std::size_t kBarcodeShift = 909;
constexpr std::size_t kBarcodeResult = 910;
constexpr std::size_t kBarcodeTextLength = 911;
constexpr std::size_t kBarcodeText = 912;
// Room for bar samples up to the end of a short record and up to its column fields.
constexpr std::size_t kShortRecordSampleRoom = kShortResultLineBytes - off::kBarSamples;
constexpr std::size_t kShortRecordSampleLimit = off::kColumnCount - off::kBarSamples;

template <std::size_t N>
std::vector<std::array<std::uint8_t, N>> split_records(std::span<const std::uint8_t> bytes) {
    std::vector<std::array<std::uint8_t, N>> records(bytes.size() / N);
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i * N), N, records[i].begin());
    }
    return records;
}

}  // namespace

ResultRecord encode_result_line(const ResultLine& line) {
    ResultRecord record{};
    std::copy(line.header.begin(), line.header.end(), record.begin() + off::kHeader);
    std::copy(line.image.begin(), line.image.end(), record.begin() + off::kImage);
    record[off::kColumnCount] = line.column_count;
    const std::size_t significant = std::min<std::size_t>(line.column_count, kMaxColumns);
    std::copy_n(line.darkness.begin(), significant, record.begin() + off::kDarkness);

    if (const auto* row = std::get_if<RowEvent>(&line.event)) {
        const std::size_t codes = std::min(row->codes.size(), kMaxRowCodes);
        record[off::kEventLength] = static_cast<std::uint8_t>(codes + 1);
        record[off::kEventBody] = row->row;
        std::copy_n(row->codes.begin(), codes, record.begin() + off::kEventBody + 1);
        record[off::kEventBody + 1 + codes] = kEventMarker;
    } else if (const auto* bar = std::get_if<BarcodeEvent>(&line.event)) {
        const std::size_t k = std::min(bar->text.size(), kMaxEventText);
        record[off::kEventLength] = static_cast<std::uint8_t>(k + 5);
        record[off::kEventBody] = kEventMarker;
        record[kBarcodeErr] = bar->err;
        record[kBarcodeShift] = bar->shift;
        record[kBarcodeResult] = bar->result;
        record[kBarcodeTextLength] = static_cast<std::uint8_t>(k);
        std::copy_n(bar->text.begin(), k, record.begin() + kBarcodeText);
        record[kBarcodeText + k] = kEventMarker;
    }
    return record;
}

ResultLine decode_result_line(std::span<const std::uint8_t, kResultLineBytes> record) {
    ResultLine line;
    std::copy_n(record.begin() + off::kHeader, line.header.size(), line.header.begin());
    std::copy_n(record.begin() + off::kImage, line.image.size(), line.image.begin());
    line.column_count = record[off::kColumnCount];
    std::copy_n(record.begin() + off::kDarkness, line.darkness.size(), line.darkness.begin());

    const std::size_t length = record[off::kEventLength];
    if (length == 0) return line;
    if (record[off::kEventBody] == kEventMarker) {
        BarcodeEvent bar;
        bar.err = record[kBarcodeErr];
        bar.shift = record[kBarcodeShift];
        bar.result = record[kBarcodeResult];
        const std::size_t k =
            std::min<std::size_t>(record[kBarcodeTextLength], kResultLineBytes - kBarcodeText);
        bar.text.assign(record.begin() + kBarcodeText, record.begin() + kBarcodeText + k);
        line.event = std::move(bar);
    } else {
        RowEvent row;
        row.row = record[off::kEventBody];
        const std::size_t first = off::kEventBody + 1;
        const std::size_t codes = std::min(length - 1, kResultLineBytes - first);
        row.codes.assign(record.begin() + first, record.begin() + first + codes);
        line.event = std::move(row);
    }
    return line;
}

std::vector<ResultRecord> split_result_records(std::span<const std::uint8_t> file_bytes) {
    return split_records<kResultLineBytes>(file_bytes);
}

void pack_half_image(const RawLine& line, int parity,
                     std::span<std::uint8_t, kHalfImageBytes> image) {
    const std::size_t q = parity & 1;
    for (std::size_t i = 0; i < kHalfImageBytes; ++i) image[i] = line[kFirstPixel + q + 2 * i];
}

void unpack_half_image(std::span<const std::uint8_t, kHalfImageBytes> image, int parity,
                       RawLine& buffer) {
    const std::size_t q = parity & 1;
    for (std::size_t i = 0; i < kHalfImageBytes; ++i) buffer[kFirstPixel + q + 2 * i] = image[i];
}

ShortResultRecord encode_short_result_line(const ShortResultLine& line) {
    ShortResultRecord record{};
    if (line.bar_sample_line) {
        const std::size_t count = std::min(line.bar_samples.size(), kShortRecordSampleLimit);
        store_u16le(record, off::kBarSampleCount, static_cast<std::uint16_t>(count));
        std::copy_n(line.bar_samples.begin(), count, record.begin() + off::kBarSamples);
        record[off::kEventBody] = kEventMarker;
    }
    record[off::kColumnCount] = static_cast<std::uint8_t>(line.column_count);
    std::copy(line.darkness.begin(), line.darkness.end(), record.begin() + off::kDarkness);
    return record;
}

ShortResultLine decode_short_result_line(
    std::span<const std::uint8_t, kShortResultLineBytes> record) {
    ShortResultLine line;
    line.bar_sample_line = record[off::kEventBody] == kEventMarker;
    if (line.bar_sample_line) {
        const std::size_t count =
            std::min<std::size_t>(load_u16le(record, off::kBarSampleCount), kShortRecordSampleRoom);
        line.bar_samples.assign(record.begin() + off::kBarSamples,
                                record.begin() + off::kBarSamples + count);
    }
    line.column_count = static_cast<std::int8_t>(record[off::kColumnCount]);
    std::copy_n(record.begin() + off::kDarkness, line.darkness.size(), line.darkness.begin());
    return line;
}

std::vector<ShortResultRecord> split_short_result_records(
    std::span<const std::uint8_t> file_bytes) {
    return split_records<kShortResultLineBytes>(file_bytes);
}

ColumnValueRow column_value_row(std::span<const std::uint8_t, kResultLineBytes> record) {
    ColumnValueRow row;
    if (record[off::kEventBody] == kEventMarker) {
        row.fill(kEndOfMarks);
    } else {
        std::copy_n(record.begin() + off::kDarkness, row.size(), row.begin());
    }
    return row;
}

std::vector<std::uint8_t> column_value_table(std::span<const std::uint8_t> file_bytes) {
    std::vector<std::uint8_t> table(kColumnValueRowsRead * kColumnValueRowBytes, 0);
    std::copy_n(file_bytes.begin(), std::min(file_bytes.size(), table.size()), table.begin());
    return table;
}

}  // namespace recognition
