// prtview: page picture, column chart with "1.41", and event listings of a result-line file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "recognition/bitmap.h"
#include "recognition/file_io.h"
#include "recognition/raw_page.h"
#include "recognition/result_line.h"
#include "tool_support.h"

namespace {

namespace off = recognition::result_offset;
using recognition::kResultLineBytes;
using recognition::RawLine;
using zerik::tools::FilePtr;

constexpr std::size_t kChartWidth = recognition::kColumnChartWidth;
constexpr std::size_t kChartHeight = recognition::kColumnChartHeight;
constexpr std::size_t kLineBytes = recognition::kRawLineBytes;
constexpr std::size_t kFirstPixel = recognition::kFirstPixel;
// Bytes of the event area (906..959) inside a record.
constexpr std::size_t kEventRoom = kResultLineBytes - off::kEventLength;

using Record = std::span<const std::uint8_t, kResultLineBytes>;

std::size_t recordCount(const std::vector<std::uint8_t>& file) {
    return file.size() / kResultLineBytes;
}

Record recordAt(const std::vector<std::uint8_t>& file, std::size_t index) {
    return Record(file.data() + index * kResultLineBytes, kResultLineBytes);
}

// Puts a record's header and half-resolution pixels into a full line; positions of the other
// parity keep what the line held.
void unpack(Record record, RawLine& line) {
    std::copy_n(record.begin() + off::kHeader, 8, line.begin());
    recognition::unpack_half_image(record.subspan<off::kImage, recognition::kHalfImageBytes>(),
                                   recognition::sampling_parity(record), line);
}

void writeAll(std::FILE* out, std::span<const std::uint8_t> bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
}

void pagePicture(const std::vector<std::uint8_t>& file, const std::string& pictureName,
                 bool reverse) {
    const std::size_t records = recordCount(file);
    const std::size_t rows = records > 2 ? records - 2 : 0;
    FilePtr out = zerik::tools::openFile(pictureName, "wb");
    if (!out) {
        zerik::tools::reportNotCreated(pictureName);
        return;
    }
    writeAll(out.get(), recognition::bitmap_header(recognition::BitmapKind::page_picture,
                                                   static_cast<std::int32_t>(rows)));
    // Record r counts from 1; in reverse order record 1 is the last one in the file.
    auto record = [&](std::size_t r) { return recordAt(file, reverse ? records - r : r - 1); };
    RawLine previous{};
    RawLine current{};
    RawLine next{};
    RawLine picture{};
    if (records >= 2) {
        unpack(record(1), previous);
        unpack(record(2), current);
    }
    for (std::size_t r = 3; r <= records; ++r) {
        unpack(record(r), next);
        std::copy(current.begin() + kFirstPixel, current.end(), picture.begin() + kFirstPixel);
        const std::size_t parity = static_cast<std::size_t>(recognition::sampling_parity(current));
        for (std::size_t x = kFirstPixel + parity; x < kLineBytes; x += 2) {
            // Position 1727 has no right neighbour; its left one stands in for it.
            const unsigned right = x + 1 < kLineBytes ? current[x + 1] : current[x - 1];
            picture[x] =
                static_cast<std::uint8_t>((current[x - 1] + right + previous[x] + next[x]) >> 2);
        }
        std::fill_n(picture.begin(), kFirstPixel + 1, 0);
        previous = current;
        current = next;
        writeAll(out.get(), picture);
    }
    out.reset();
    std::printf("%s ok!\n", pictureName.c_str());
}

void columnChart(const std::vector<std::uint8_t>& file, const std::string& pictureName) {
    std::vector<std::uint8_t> chart(kChartWidth * kChartHeight, 0);
    FilePtr columnFile = zerik::tools::openFile("1.41", "wb");
    if (!columnFile) {
        zerik::tools::reportNotCreated("1.41");
        return;
    }
    const std::size_t rows = std::min(recordCount(file), recognition::kColumnValueRowsWritten);
    for (std::size_t t = 0; t < rows; ++t) {
        const recognition::ColumnValueRow columns =
            recognition::column_value_row(recordAt(file, t));
        const std::size_t x = t % kChartWidth;
        const std::size_t band = t / kChartWidth;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const unsigned v = columns[c];
            const auto shade =
                static_cast<std::uint8_t>(v < recognition::kEndOfMarks ? 3 * v + 29 : 255);
            // Band 0 is the top strip; within a band column 0 is the bottom four rows.
            const std::size_t firstRow = 376 - 180 * band + 4 * c;
            for (std::size_t row = firstRow; row < firstRow + 4; ++row) {
                chart[row * kChartWidth + x] = shade;
            }
        }
        writeAll(columnFile.get(), columns);
    }
    columnFile.reset();
    FilePtr out = zerik::tools::openFile(pictureName, "wb");
    if (!out) {
        zerik::tools::reportNotCreated(pictureName);
        return;
    }
    writeAll(out.get(), recognition::bitmap_header(recognition::BitmapKind::column_chart));
    writeAll(out.get(), chart);
    out.reset();
    std::printf("%s ok!   1.41 ok! (run mapgen <pls>)\n", pictureName.c_str());
}

void eventListing(const std::vector<std::uint8_t>& file) {
    for (std::size_t index = 0; index < recordCount(file); ++index) {
        const Record record = recordAt(file, index);
        if (record[off::kEventLength] == 0) continue;
        const recognition::ResultLine line = recognition::decode_result_line(record);
        if (const auto* bar = std::get_if<recognition::BarcodeEvent>(&line.event)) {
            std::printf("------------------------------\n");
            // err reads 99 once the cut has ended; the listing shows it as 0.
            const unsigned err = bar->err > 90 ? 0 : bar->err;
            std::printf("err: %u  shift: %u  bar: %u   ", err, unsigned{bar->shift},
                        unsigned{bar->result});
            for (char c : bar->text) std::printf("%c", c);
        } else if (const auto* row = std::get_if<recognition::RowEvent>(&line.event)) {
            std::printf("%02u: ", unsigned{row->row});
            for (std::uint8_t code : row->codes) {
                if (code == 0) {
                    std::printf("   ");
                } else {
                    std::printf(" %02x", unsigned{code});
                }
            }
        }
        std::printf("\n");
    }
}

void eventDump(const std::vector<std::uint8_t>& file) {
    for (std::size_t index = 0; index < recordCount(file); ++index) {
        const Record record = recordAt(file, index);
        const std::size_t length = record[off::kEventLength];
        if (length == 0) continue;
        std::printf("%5zu:", index);
        // A length reaching past the record stops at its end.
        const std::size_t bytes = std::min(length + 2, kEventRoom);
        for (std::size_t i = 0; i < bytes; ++i) {
            std::printf(" %u", unsigned{record[off::kEventLength + i]});
        }
        std::printf("\n");
    }
}

void emptyLinePerEvent(const std::vector<std::uint8_t>& file) {
    for (std::size_t index = 0; index < recordCount(file); ++index) {
        if (recordAt(file, index)[off::kEventLength] != 0) std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        zerik::tools::printEach({"\n\tUsage: prtview j1.prt n !\n",
                                 "\n\t(Before run: sheetsim 01.prt [!])\n",
                                 "\n\t n 1~bmp 2~cut_file 3,4~cut_result\n",
                                 "\n\t ! top_down --> down_up for [1] bmp\n\n"});
        return 0;
    }
    const std::string inputName = argv[1];
    const auto file = recognition::read_binary_file(inputName);
    if (!file) {
        zerik::tools::reportNotFound(inputName);
        return 0;
    }
    int mode = 1;
    if (argc > 2 && std::sscanf(argv[2], "%d", &mode) != 1) mode = 1;
    const bool reverse = argc > 3;
    switch (mode) {
        case 1:
            pagePicture(*file, zerik::tools::pictureFileName(inputName), reverse);
            break;
        case 2:
            columnChart(*file, zerik::tools::pictureFileName(inputName));
            break;
        case 3:
            eventListing(*file);
            break;
        case 4:
            eventDump(*file);
            break;
        default:
            if (mode > 4) emptyLinePerEvent(*file);
            break;
    }
    return 0;
}
