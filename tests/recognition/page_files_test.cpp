#include <gtest/gtest.h>

#include <numeric>

#include "recognition/bitmap.h"
#include "recognition/byte_order.h"
#include "recognition/file_io.h"
#include "recognition/map_file.h"
#include "recognition/parameter_file.h"
#include "recognition/raw_page.h"
#include "recognition/result_line.h"

namespace recognition {
namespace {

struct ShadingCase {
    std::uint8_t offset;
    std::uint8_t gain;
    std::uint8_t pixel;
    std::uint8_t expected;
};

TEST(Shading, DeviceArithmeticIncludingWrap) {
    const ShadingCase cases[] = {
        {0, 0, 0, 0},      {0, 0, 200, 0},    {17, 0, 255, 0},    // gain 0 gives black
        {255, 16, 0, 0},   {255, 16, 254, 0}, {255, 16, 255, 0},  // offset 255
        {0, 16, 0, 0},     {0, 16, 1, 1},     {0, 16, 128, 128},  // unity gain
        {0, 16, 254, 254}, {0, 16, 255, 254},                     // only 255 changes
        {0, 64, 63, 254},  {0, 64, 127, 254},                     // clamped at 254
        {0, 64, 128, 2},   {0, 64, 200, 34},                      // product wraps
        {10, 32, 50, 81},  {60, 16, 50, 0},                       // offset below pixel
    };
    for (const ShadingCase& c : cases) {
        EXPECT_EQ(shade_pixel(c.pixel, shading_entry(c.offset, c.gain)), c.expected)
            << "offset " << int(c.offset) << " gain " << int(c.gain) << " pixel " << int(c.pixel);
    }
}

TEST(Shading, TableAppliesToPixelsOnlyAndFileKeepsMissingEntriesZero) {
    ShadingTable table;
    table.entries.fill(shading_entry(0, 64));
    const auto file = serialize_shading_table(table);
    ASSERT_EQ(file.size(), 32u + 2 * 1728);

    // Cut the file in the middle of entry 1000: entries from 1000 on read as 0.
    const auto parsed = parse_shading_table(std::span(file).first(32 + 2 * 1000 + 1));
    EXPECT_EQ(parsed.entries[999], shading_entry(0, 64));
    EXPECT_EQ(parsed.entries[1000], 0);
    EXPECT_EQ(parse_shading_table(file).entries, table.entries);

    RawLine line;
    line.fill(200);
    apply_shading(parsed, line);
    EXPECT_EQ(line[15], 200) << "header bytes are not corrected";
    EXPECT_EQ(line[16], 34);
    EXPECT_EQ(line[999], 34);
    EXPECT_EQ(line[1000], 0) << "a missing entry has gain 0";
}

TEST(RawPage, TrailingPartialLineIsDropped) {
    std::vector<std::uint8_t> bytes(1728 * 3 + 100);
    std::iota(bytes.begin(), bytes.end(), 0);
    const auto lines = split_raw_lines(bytes);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2][0], static_cast<std::uint8_t>(1728 * 2));
    EXPECT_EQ(join_raw_lines(lines), std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 100));
    RawLine odd{};
    odd[6] = 0x13;
    EXPECT_EQ(sampling_parity(odd), 1);
    odd[6] = 0x12;
    EXPECT_EQ(sampling_parity(odd), 0);
}

TEST(ParameterFile, ReadsCountPositionsAndBarcodeArea) {
    const auto parse = parse_parameter_file("3\r\n100\n 300\n500\n1 400 120 300\n");
    ASSERT_TRUE(parse.parameters) << parse.error;
    const ParameterFile& p = *parse.parameters;
    EXPECT_EQ(p.positions, (std::vector<std::int16_t>{100, 300, 500}));
    EXPECT_EQ(p.bar.type, 1);
    EXPECT_EQ(p.bar.x, 400);
    EXPECT_EQ(p.bar.y, 120);
    EXPECT_EQ(p.bar.length, 300);

    const auto again = parse_parameter_file(format_parameter_file(p));
    ASSERT_TRUE(again.parameters);
    EXPECT_EQ(again.parameters->positions, p.positions);
    EXPECT_EQ(again.parameters->bar.length, 300);
}

TEST(ParameterFile, MissingBarcodeLineMeansNoBarcode) {
    const auto parse = parse_parameter_file("1\n100\n");
    ASSERT_TRUE(parse.parameters) << parse.error;
    EXPECT_EQ(parse.parameters->bar.type, 0);
}

TEST(ParameterFile, LineLongerThanTheBufferContinuesAsNextLine) {
    // 79 characters of the first line are one line; the tail "7" becomes the position.
    const std::string text = "1" + std::string(78, ' ') + "7\n0 0 0 0\n";
    const auto parse = parse_parameter_file(text);
    ASSERT_TRUE(parse.parameters) << parse.error;
    EXPECT_EQ(parse.parameters->positions, std::vector<std::int16_t>{7});
    EXPECT_EQ(parse.parameters->bar.type, 0);
}

TEST(ParameterFile, RefusesValuesThatWouldReadOutsideALineOrStore) {
    const char* refused[] = {
        "",                        // no count
        "0\n0 0 0 0\n",            // count below 1
        "42\n",                    // more than 41 columns
        "2\n100\n",                // position missing
        "1\n0\n0 0 0 0\n",         // left neighbour outside the line
        "1\n1727\n0 0 0 0\n",      // right neighbour outside the line
        "1\n100\n3 0 0 0\n",       // unknown barcode type
        "1\n100\n1 10 0 501\n",    // more samples than the store holds
        "1\n100\n2 10 0 -1\n",     // negative count
        "1\n100\n1 1500 0 300\n",  // run past the line end
        "1\n100\n2 1728 0 10\n",   // column outside the line
        "1\n100\n1 2 3\n",         // barcode line incomplete
        "1\n100\n0 40000 0 0\n",   // not a 16-bit value
    };
    for (const char* text : refused) {
        const auto parse = parse_parameter_file(text);
        EXPECT_FALSE(parse.parameters) << '"' << text << '"';
        EXPECT_FALSE(parse.error.empty());
    }
}

ResultLine sample_line() {
    ResultLine line;
    for (std::size_t i = 0; i < 8; ++i) line.header[i] = static_cast<std::uint8_t>(i + 1);
    for (std::size_t i = 0; i < line.image.size(); ++i)
        line.image[i] = static_cast<std::uint8_t>(i);
    line.column_count = 3;
    line.darkness[0] = 60;
    line.darkness[1] = 4;
    line.darkness[2] = 33;
    line.darkness[3] = 99;  // not significant: not written
    return line;
}

TEST(ResultLine, NoEventLeavesZeroInLengthAndBody) {
    const auto record = encode_result_line(sample_line());
    EXPECT_EQ(record[0], 1);
    EXPECT_EQ(record[7], 8);
    EXPECT_EQ(record[8], 0);
    EXPECT_EQ(record[863], static_cast<std::uint8_t>(855));
    EXPECT_EQ(record[864], 3);
    EXPECT_EQ(record[867], 33);
    EXPECT_EQ(record[868], 0);
    EXPECT_EQ(record[906], 0);
    EXPECT_EQ(record[907], 0);
    const ResultLine back = decode_result_line(record);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(back.event));
    EXPECT_EQ(back.image, sample_line().image);
}

TEST(ResultLine, RowEventCarriesRowCodesAndTerminator) {
    ResultLine line = sample_line();
    line.event = RowEvent{7, {0x00, 0x3C}};
    const auto record = encode_result_line(line);
    EXPECT_EQ(record[906], 3);
    EXPECT_EQ(record[907], 7);
    EXPECT_EQ(record[908], 0x00);
    EXPECT_EQ(record[909], 0x3C);
    EXPECT_EQ(record[910], 0xFF);
    const auto row = std::get<RowEvent>(decode_result_line(record).event);
    EXPECT_EQ(row.row, 7);
    EXPECT_EQ(row.codes, (std::vector<std::uint8_t>{0x00, 0x3C}));
}

TEST(ResultLine, BarcodeEventWithAndWithoutCharacters) {
    ResultLine line = sample_line();
    line.event = BarcodeEvent{99, 125, 4, ""};
    auto record = encode_result_line(line);
    const std::uint8_t empty[] = {5, 0xFF, 99, 125, 4, 0, 0xFF};
    EXPECT_TRUE(std::equal(std::begin(empty), std::end(empty), record.begin() + 906));

    line.event = BarcodeEvent{99, 64, 0, std::string(60, 'x')};
    record = encode_result_line(line);
    EXPECT_EQ(record[906], 47 + 5);
    EXPECT_EQ(record[911], 47);
    EXPECT_EQ(record[959], 0xFF) << "47 characters fill the record exactly";
    const auto bar = std::get<BarcodeEvent>(decode_result_line(record).event);
    EXPECT_EQ(bar.text, std::string(47, 'x'));
    EXPECT_EQ(bar.err, 99);
}

TEST(ResultLine, ReaderStaysInsideTheRecordForAnyCounts) {
    ResultRecord record{};
    record[906] = 255;
    record[907] = 3;  // row event claiming 254 codes
    auto row = std::get<RowEvent>(decode_result_line(record).event);
    EXPECT_EQ(row.codes.size(), 960u - 908);
    record[907] = 0xFF;
    record[911] = 250;  // barcode event claiming 250 characters
    auto bar = std::get<BarcodeEvent>(decode_result_line(record).event);
    EXPECT_EQ(bar.text.size(), 960u - 912);
}

TEST(ResultLine, HalfImageFollowsParity) {
    RawLine raw;
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i % 251);
    std::array<std::uint8_t, kHalfImageBytes> even{}, odd{};
    pack_half_image(raw, 0, even);
    pack_half_image(raw, 1, odd);
    EXPECT_EQ(even[0], 16);
    EXPECT_EQ(even[855], 1726 % 251);
    EXPECT_EQ(odd[0], 17);
    EXPECT_EQ(odd[855], 1727 % 251);

    RawLine buffer;
    buffer.fill(7);
    unpack_half_image(odd, 1, buffer);
    EXPECT_EQ(buffer[16], 7) << "the other positions keep their value";
    EXPECT_EQ(buffer[17], 17);
    EXPECT_EQ(buffer[1727], 1727 % 251);
}

TEST(ShortResultLine, BarSampleLineAndColumnFields) {
    ShortResultLine line;
    line.bar_sample_line = true;
    line.bar_samples = {1, 2, 63, 40};
    line.column_count = -3;
    line.darkness[40] = 9;
    const auto record = encode_short_result_line(line);
    EXPECT_EQ(load_u16le(record, 8), 4);
    EXPECT_EQ(record[10], 1);
    EXPECT_EQ(record[864], 0xFD);
    EXPECT_EQ(record[907], 0xFF);
    const auto back = decode_short_result_line(record);
    EXPECT_TRUE(back.bar_sample_line);
    EXPECT_EQ(back.bar_samples, line.bar_samples);
    EXPECT_EQ(back.column_count, -3);
    EXPECT_EQ(back.darkness[40], 9);

    ShortResultRecord huge{};
    store_u16le(huge, 8, 60000);
    huge[907] = 0xFF;
    EXPECT_EQ(decode_short_result_line(huge).bar_samples.size(), 938u);
}

TEST(ColumnValues, BarcodeEventRowMarksEndAndTableIsZeroFilled) {
    ResultLine line = sample_line();
    const auto plain = column_value_row(encode_result_line(line));
    EXPECT_EQ(plain[2], 33);
    line.event = BarcodeEvent{};
    const auto end = column_value_row(encode_result_line(line));
    EXPECT_TRUE(std::all_of(end.begin(), end.end(), [](std::uint8_t v) { return v == 64; }));

    std::vector<std::uint8_t> file(41 * 2 + 5, 9);
    const auto table = column_value_table(file);
    ASSERT_EQ(table.size(), 3000u * 41);
    EXPECT_EQ(table[41 * 2 + 4], 9);
    EXPECT_EQ(table[41 * 2 + 5], 0);

    std::vector<std::uint8_t> too_long(3001 * 41, 1);
    EXPECT_EQ(column_value_table(too_long).size(), 3000u * 41);
}

TEST(MapFile, RecordsRoundTrip) {
    std::vector<std::uint8_t> bytes;
    const std::uint8_t codes[] = {0, 0x3C, 0x00};
    append_map_row(bytes, codes);
    append_map_end(bytes, 0, -3, 300, 1);
    const MapBarcodeEntry entries[] = {{4, 7, "AB12", 0}, {9, 2, "", 4}};
    append_map_barcode(bytes, entries);
    const std::uint8_t expected[] = {'#', 3, 0, 0x3C, 0,   '*', 0,   0xFD, 300 & 0xFF, 1, '&',
                                     10,  4, 7, 'A',  'B', '1', '2', 0,    9,          2, 4};
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(std::begin(expected), std::end(expected)));

    const MapFile map = parse_map_file(bytes);
    EXPECT_TRUE(map.well_formed);
    ASSERT_EQ(map.rows.size(), 1u);
    EXPECT_EQ(map.rows[0][1], 0x3C);
    ASSERT_TRUE(map.end);
    EXPECT_EQ((*map.end)[1], 0xFD);
    ASSERT_TRUE(map.barcodes);
    ASSERT_EQ(map.barcodes->size(), 2u);
    EXPECT_EQ((*map.barcodes)[0].text, "AB12");
    EXPECT_EQ((*map.barcodes)[1].result, 4);

    EXPECT_FALSE(parse_map_file(std::span(bytes).first(bytes.size() - 1)).well_formed);
}

TEST(MapFile, BarcodeRecordLengthStaysWithinOneByte) {
    std::vector<MapBarcodeEntry> entries(10, MapBarcodeEntry{1, 1, std::string(40, 'Z'), 0});
    std::vector<std::uint8_t> bytes;
    append_map_barcode(bytes, entries);
    EXPECT_EQ(map_entries_that_fit(entries), 5u);
    EXPECT_EQ(bytes[1], 5 * 43) << "the sixth entry would pass 255 bytes";
    EXPECT_EQ(bytes.size(), 2u + 5 * 43);
    EXPECT_EQ(parse_map_file(bytes).barcodes->size(), 5u);
}

TEST(FileIo, DirectoryOrMissingFileReadsAsNothing) {
    EXPECT_FALSE(read_binary_file("/").has_value());
    EXPECT_FALSE(read_binary_file("/nonexistent-zerik-dir/1.41").has_value());
}

TEST(Bitmap, PagePictureAndColumnChartHeaders) {
    const auto page = bitmap_header(BitmapKind::page_picture, 10);
    ASSERT_EQ(page.size(), 1078u);
    EXPECT_EQ(page[0], 'B');
    EXPECT_EQ(load_u32le(page, 2), 1078u + 1728 * 10);
    EXPECT_EQ(load_u32le(page, 10), 1078u);
    EXPECT_EQ(load_u32le(page, 14), 40u);
    EXPECT_EQ(load_u32le(page, 18), 1728u);
    EXPECT_EQ(load_u32le(page, 22), 10u);
    EXPECT_EQ(load_u16le(page, 26), 1);
    EXPECT_EQ(load_u16le(page, 28), 8);
    EXPECT_EQ(load_u32le(page, 34), 17280u);
    EXPECT_EQ(load_u32le(page, 38), 30000u);
    EXPECT_EQ(load_u32le(page, 46), 256u);
    EXPECT_EQ(page[54 + 4 * 200], 200);
    EXPECT_EQ(load_u32le(page, 54 + 4 * 255), 0x00FF0000u) << "red";

    const auto chart = bitmap_header(BitmapKind::column_chart);
    EXPECT_EQ(load_u32le(chart, 2), 1078u + 900 * 556);
    EXPECT_EQ(load_u32le(chart, 18), 900u);
    EXPECT_EQ(load_u32le(chart, 22), 556u);
    EXPECT_EQ(load_u32le(chart, 34), 0u);
    EXPECT_EQ(load_u32le(chart, 38), 0u);
    EXPECT_EQ(load_u32le(chart, 46), 0u);
    EXPECT_EQ(load_u32le(chart, 54 + 4 * 255), 0x00FF00FFu) << "magenta";

    EXPECT_EQ(load_u32le(bitmap_header(BitmapKind::page_picture, -1), 22), 0u);
}

TEST(Bitmap, FileNameReplacesThreeCharactersAfterFirstDot) {
    EXPECT_EQ(bitmap_file_name("j1.prt"), "j1.bmp");
    EXPECT_EQ(bitmap_file_name("j1.prt.old"), "j1.bmp.old");
    EXPECT_EQ(bitmap_file_name("a.b"), "a.bmp");
    EXPECT_EQ(bitmap_file_name("page"), "page.bmp");
}

}  // namespace
}  // namespace recognition
