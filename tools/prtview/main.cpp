// prtview: page picture, column chart with "1.41", and event listings of a result-line file.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "tool_support.h"

namespace {

using zerik::tools::FilePtr;

constexpr std::size_t kRecordSize = 960;
constexpr std::size_t kLineSize = 1728;
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kImageOffset = 8;
constexpr std::size_t kImagePixels = 856;
constexpr std::size_t kFirstPixel = 16;
constexpr std::size_t kColumnsOffset = 865;
constexpr std::size_t kColumnCount = 41;
constexpr std::size_t kEventLength = 906;
constexpr std::size_t kEventBody = 907;
constexpr std::uint8_t kBarcodeEvent = 0xFF;
constexpr std::uint8_t kEndOfMarks = 64;

constexpr std::uint32_t kBmpHeaderSize = 54;
constexpr std::uint32_t kBmpDataOffset = 1078;
constexpr int kChartWidth = 900;
constexpr int kChartHeight = 556;
constexpr std::size_t kChartMaxRows = 2700;

using Record = std::span<const std::uint8_t, kRecordSize>;
using Line = std::array<std::uint8_t, kLineSize>;

void putLe16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::uint8_t* at, std::uint32_t value) {
    putLe16(at, value);
    putLe16(at + 2, value >> 16);
}

struct BmpLayout {
    int width;
    int height;
    bool pageColours;  // page picture (red entry 255, sizes and densities filled in) or chart
};

// File header, information header and colour table of an 8-bit picture.
std::vector<std::uint8_t> bmpHeader(const BmpLayout& layout) {
    std::vector<std::uint8_t> header(kBmpDataOffset, 0);
    const std::uint32_t imageBytes =
        static_cast<std::uint32_t>(layout.width) * static_cast<std::uint32_t>(layout.height);
    std::uint8_t* h = header.data();
    h[0] = 'B';
    h[1] = 'M';
    putLe32(h + 2, kBmpDataOffset + imageBytes);
    putLe32(h + 10, kBmpDataOffset);
    putLe32(h + 14, kBmpHeaderSize - 14);
    putLe32(h + 18, static_cast<std::uint32_t>(layout.width));
    putLe32(h + 22, static_cast<std::uint32_t>(layout.height));
    putLe16(h + 26, 1);
    putLe16(h + 28, 8);
    putLe32(h + 30, 0);
    if (layout.pageColours) {
        putLe32(h + 34, imageBytes);
        putLe32(h + 38, 30000);
        putLe32(h + 42, 30000);
        putLe32(h + 46, 256);
        putLe32(h + 50, 256);
    }
    for (std::uint32_t i = 0; i < 255; ++i) {
        std::uint8_t* entry = h + kBmpHeaderSize + 4 * i;
        entry[0] = entry[1] = entry[2] = static_cast<std::uint8_t>(i);
    }
    std::uint8_t* last = h + kBmpHeaderSize + 4 * 255;
    last[0] = layout.pageColours ? 0 : 255;  // blue: none in red, full in magenta
    last[2] = 255;
    return header;
}

std::size_t recordCount(const std::vector<std::uint8_t>& file) {
    return file.size() / kRecordSize;
}

Record recordAt(const std::vector<std::uint8_t>& file, std::size_t index) {
    return Record(file.data() + index * kRecordSize, kRecordSize);
}

// Puts a record's half-resolution pixels back at their places in a full line; the positions of
// the other parity keep what the line held.
void unpack(Record record, Line& line) {
    std::copy_n(record.begin(), kHeaderBytes, line.begin());
    const std::size_t parity = record[6] & 1u;
    for (std::size_t i = 0; i < kImagePixels; ++i) {
        line[kFirstPixel + parity + 2 * i] = record[kImageOffset + i];
    }
}

bool writeAll(std::FILE* out, std::span<const std::uint8_t> bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
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
    // Record r counts from 1; in reverse order record 1 is the last one in the file.
    auto record = [&](std::size_t r) { return recordAt(file, reverse ? records - r : r - 1); };
    writeAll(out.get(), bmpHeader({static_cast<int>(kLineSize), static_cast<int>(rows), true}));
    Line previous{};
    Line current{};
    Line next{};
    Line picture{};
    if (records >= 2) {
        unpack(record(1), previous);
        unpack(record(2), current);
    }
    for (std::size_t r = 3; r <= records; ++r) {
        unpack(record(r), next);
        std::copy(current.begin() + kFirstPixel, current.end(), picture.begin() + kFirstPixel);
        for (std::size_t x = kFirstPixel + (current[6] & 1u); x < kLineSize; x += 2) {
            // Position 1727 has no right neighbour; its left one stands in for it.
            const unsigned right = x + 1 < kLineSize ? current[x + 1] : current[x - 1];
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
    std::vector<std::uint8_t> chart(static_cast<std::size_t>(kChartWidth) * kChartHeight, 0);
    FilePtr columnFile = zerik::tools::openFile("1.41", "wb");
    if (!columnFile) {
        zerik::tools::reportNotCreated("1.41");
        return;
    }
    const std::size_t rows = std::min(recordCount(file), kChartMaxRows);
    for (std::size_t t = 0; t < rows; ++t) {
        const Record record = recordAt(file, t);
        std::array<std::uint8_t, kColumnCount> columns{};
        if (record[kEventBody] == kBarcodeEvent) {
            columns.fill(kEndOfMarks);
        } else {
            std::copy_n(record.begin() + kColumnsOffset, kColumnCount, columns.begin());
        }
        const std::size_t x = t % kChartWidth;
        const std::size_t band = t / kChartWidth;
        for (std::size_t c = 0; c < kColumnCount; ++c) {
            const unsigned v = columns[c];
            const auto shade = static_cast<std::uint8_t>(v < kEndOfMarks ? 3 * v + 29 : 255);
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
    writeAll(out.get(), bmpHeader({kChartWidth, kChartHeight, false}));
    writeAll(out.get(), chart);
    out.reset();
    std::printf("%s ok!   1.41 ok! (run mapgen <pls>)\n", pictureName.c_str());
}

// Number of event bytes from byte 906 on that lie inside the record.
constexpr std::size_t kEventRoom = kRecordSize - kEventLength;

void eventListing(const std::vector<std::uint8_t>& file) {
    for (std::size_t index = 0; index < recordCount(file); ++index) {
        const Record record = recordAt(file, index);
        const unsigned length = record[kEventLength];
        if (length == 0) continue;
        if (record[kEventBody] == kBarcodeEvent) {
            std::printf("------------------------------\n");
            const unsigned err = record[908] > 90 ? 0 : record[908];
            std::printf("err: %u  shift: %u  bar: %u   ", err, record[909], record[910]);
            // A character count beyond the record is cut at the record's end.
            const std::size_t count = std::min<std::size_t>(record[911], kRecordSize - 912);
            for (std::size_t i = 0; i < count; ++i) std::printf("%c", record[912 + i]);
        } else {
            std::printf("%02u: ", record[kEventBody]);
            const std::size_t lastField = std::min<std::size_t>(length, kEventRoom - 1);
            for (std::size_t i = 2; i <= lastField; ++i) {
                const unsigned code = record[kEventLength + i];
                if (code == 0) {
                    std::printf("   ");
                } else {
                    std::printf(" %02x", code);
                }
            }
        }
        std::printf("\n");
    }
}

void eventDump(const std::vector<std::uint8_t>& file) {
    for (std::size_t index = 0; index < recordCount(file); ++index) {
        const Record record = recordAt(file, index);
        const unsigned length = record[kEventLength];
        if (length == 0) continue;
        std::printf("%5zu:", index);
        const std::size_t bytes = std::min<std::size_t>(length + 2, kEventRoom);
        for (std::size_t i = 0; i < bytes; ++i) std::printf(" %u", record[kEventLength + i]);
        std::printf("\n");
    }
}

void emptyLinePerEvent(const std::vector<std::uint8_t>& file) {
    for (std::size_t index = 0; index < recordCount(file); ++index) {
        if (recordAt(file, index)[kEventLength] != 0) std::printf("\n");
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
    const auto file = zerik::tools::readWholeFile(inputName);
    if (!file) {
        std::printf("%s not found!\n", inputName.c_str());
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
