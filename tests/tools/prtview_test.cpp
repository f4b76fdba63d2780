#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bmp_check.h"
#include "tool_runner.h"

namespace zerik::tools::testing {
namespace {

constexpr std::size_t kRecord = 960;
constexpr std::size_t kLine = 1728;
constexpr std::size_t kBmpData = 1078;

using Records = std::vector<std::uint8_t>;

// A result-line record whose 856 image bytes all hold `pixel`, with sampling parity `parity`.
void appendImageRecord(Records& file, std::uint8_t pixel, int parity) {
    std::array<std::uint8_t, kRecord> record{};
    record[0] = 0xAA;  // header bytes must never show in the picture
    record[6] = static_cast<std::uint8_t>(parity);
    std::fill(record.begin() + 8, record.begin() + 864, pixel);
    file.insert(file.end(), record.begin(), record.end());
}

// `records` records of one pixel value, their parity alternating from 0.
Records uniformPage(int records, std::uint8_t pixel) {
    Records file;
    for (int i = 0; i < records; ++i) appendImageRecord(file, pixel, i % 2);
    return file;
}

std::vector<std::uint8_t> pictureRow(const std::vector<std::uint8_t>& bmp, std::size_t row) {
    const auto begin = bmp.begin() + static_cast<std::ptrdiff_t>(kBmpData + row * kLine);
    return {begin, begin + static_cast<std::ptrdiff_t>(kLine)};
}

TEST(Prtview, UsageWithoutArguments) {
    ScratchDir dir;
    const ToolResult result = runTool(PRTVIEW_PATH, {}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output,
              "\n\tUsage: prtview j1.prt n !\n"
              "\n\t(Before run: sheetsim 01.prt [!])\n"
              "\n\t n 1~bmp 2~cut_file 3,4~cut_result\n"
              "\n\t ! top_down --> down_up for [1] bmp\n\n");
}

TEST(Prtview, MissingInputIsReported) {
    ScratchDir dir;
    const ToolResult result = runTool(PRTVIEW_PATH, {"j9.prt", "1"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "j9.prt not found!\n");
    EXPECT_FALSE(dir.exists("j9.bmp"));
}

TEST(Prtview, InputThatIsADirectoryIsReportedAsMissing) {
    ScratchDir dir;
    std::filesystem::create_directory(dir / "j9.prt");
    const ToolResult result = runTool(PRTVIEW_PATH, {"j9.prt", "3"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "j9.prt not found!\n");
}

TEST(Prtview, TwoRecordsGiveAPictureOfHeightZero) {
    ScratchDir dir;
    Records file;
    appendImageRecord(file, 100, 0);
    appendImageRecord(file, 100, 1);
    file.resize(file.size() + 100, 7);  // a partial record is not counted
    dir.write("j1.prt", file);
    const ToolResult result = runTool(PRTVIEW_PATH, {"j1.prt"}, dir);
    EXPECT_EQ(result.output, "j1.bmp ok!\n");
    const auto bmp = dir.read("j1.bmp");
    ASSERT_EQ(bmp.size(), kBmpData);
    EXPECT_EQ(le32At(bmp, 2), kBmpData);
    EXPECT_EQ(le32At(bmp, 18), 1728u);
    EXPECT_EQ(le32At(bmp, 22), 0u);
    EXPECT_EQ(le32At(bmp, 34), 0u);
}

TEST(Prtview, EmptyAndSingleRecordFilesGiveEmptyPictures) {
    for (std::size_t records : {0u, 1u}) {
        ScratchDir dir;
        Records file;
        for (std::size_t i = 0; i < records; ++i) appendImageRecord(file, 9, 0);
        dir.write("j1.prt", file);
        const ToolResult result = runTool(PRTVIEW_PATH, {"j1.prt", "1"}, dir);
        EXPECT_EQ(result.output, "j1.bmp ok!\n");
        const auto bmp = dir.read("j1.bmp");
        ASSERT_EQ(bmp.size(), kBmpData) << records;
        EXPECT_EQ(le32At(bmp, 22), 0u);
    }
}

struct PictureCase {
    const char* name;
    bool reverse;
    // Expected value of even and odd positions 17..1727 in each picture row, bottom row first.
    std::vector<std::array<int, 2>> rows;
};

void PrintTo(const PictureCase& tc, std::ostream* os) {
    *os << tc.name;
}

class PagePicture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PagePicture, AveragesOwnParityFromNeighbours) {
    const PictureCase& tc = GetParam();
    ScratchDir dir;
    Records file;
    for (int i = 0; i < 7; ++i)
        appendImageRecord(file, static_cast<std::uint8_t>(10 * (i + 1)), i % 2);
    dir.write("j1.prt", file);
    std::vector<std::string> args{"j1.prt", "1"};
    if (tc.reverse) args.push_back("!");
    const ToolResult result = runTool(PRTVIEW_PATH, args, dir);
    EXPECT_EQ(result.output, "j1.bmp ok!\n");
    const auto bmp = dir.read("j1.bmp");
    ASSERT_EQ(bmp.size(), kBmpData + 5 * kLine);
    EXPECT_EQ(le32At(bmp, 22), 5u);
    EXPECT_EQ(le32At(bmp, 34), 5u * kLine);
    for (std::size_t r = 0; r < tc.rows.size(); ++r) {
        const auto row = pictureRow(bmp, r);
        for (std::size_t x = 0; x <= 16; ++x) ASSERT_EQ(row[x], 0) << "row " << r << " x " << x;
        for (std::size_t x = 17; x < kLine; ++x) {
            ASSERT_EQ(row[x], tc.rows[r][x % 2]) << "row " << r << " x " << x;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Prtview, PagePicture,
    ::testing::Values(PictureCase{"TopDown", false, {{0, 0}, {7, 0}, {30, 25}, {40, 40}, {50, 50}}},
                      PictureCase{
                          "Reversed", true, {{0, 0}, {12, 0}, {50, 35}, {40, 40}, {30, 30}}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Prtview, PagePictureOpensInAnIndependentReader) {
    ScratchDir dir;
    const Records file = uniformPage(6, 255);
    dir.write("j1.prt", file);
    runTool(PRTVIEW_PATH, {"j1.prt"}, dir);
    const auto bmp = dir.read("j1.bmp");
    expectColourTable(bmp, {255, 0, 0});
    expectReaderSees(dir, "j1.bmp", 1728, 4);
}

// A page of 3000 records whose columns hold (t + c) mod 60 + 4; record 100 carries the barcode
// event and record 2000 a column value of 70.
Records chartPage() {
    Records file;
    for (std::size_t t = 0; t < 3000; ++t) {
        std::array<std::uint8_t, kRecord> record{};
        record[864] = 41;
        for (std::size_t c = 0; c < 41; ++c) {
            record[865 + c] = static_cast<std::uint8_t>((t + c) % 60 + 4);
        }
        if (t == 100) {
            record[906] = 5;
            record[907] = 0xFF;
        }
        if (t == 2000) record[865 + 7] = 70;
        file.insert(file.end(), record.begin(), record.end());
    }
    return file;
}

TEST(Prtview, ColumnChartWrites2700RowsOfColumnValues) {
    ScratchDir dir;
    const Records file = chartPage();
    dir.write("j1.prt", file);
    const ToolResult result = runTool(PRTVIEW_PATH, {"j1.prt", "2"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "j1.bmp ok!   1.41 ok! (run mapgen <pls>)\n");

    const auto columns = dir.read("1.41");
    ASSERT_EQ(columns.size(), 2700u * 41u);
    for (std::size_t t : {0u, 99u, 101u, 899u, 900u, 1799u, 2699u}) {
        for (std::size_t c = 0; c < 41; ++c) {
            ASSERT_EQ(columns[t * 41 + c], file[t * kRecord + 865 + c]) << t << " " << c;
        }
    }
    for (std::size_t c = 0; c < 41; ++c) EXPECT_EQ(columns[100 * 41 + c], 64);

    const auto bmp = dir.read("j1.bmp");
    ASSERT_EQ(bmp.size(), kBmpData + 900u * 556u);
    EXPECT_EQ(le32At(bmp, 2), bmp.size());
    EXPECT_EQ(le32At(bmp, 18), 900u);
    EXPECT_EQ(le32At(bmp, 22), 556u);
    EXPECT_EQ(le32At(bmp, 34), 0u);
    EXPECT_EQ(le32At(bmp, 38), 0u);
    EXPECT_EQ(le32At(bmp, 46), 0u);
    auto chart = [&](std::size_t row, std::size_t x) { return bmp[kBmpData + row * 900 + x]; };
    // Band 0 from row 376 up, band 1 from 196, band 2 from 16; four rows per column.
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(chart(376 + k, 5), 3 * (5 % 60 + 4) + 29);
        EXPECT_EQ(chart(376 + 4 * 40 + k, 5), 3 * ((5 + 40) % 60 + 4) + 29);
        EXPECT_EQ(chart(196 + 4 * 3 + k, 950 - 900), 3 * ((950 + 3) % 60 + 4) + 29);
        EXPECT_EQ(chart(16 + 4 * 7 + k, 2000 - 1800), 255);
        EXPECT_EQ(chart(376 + 4 * 12 + k, 100), 255);
    }
    EXPECT_EQ(chart(0, 0), 0);
    EXPECT_EQ(chart(555, 899), 0);
    expectColourTable(bmp, {255, 0, 255});
    expectReaderSees(dir, "j1.bmp", 900, 556);
}

// Records: a row event with n = 4, an empty line, the barcode event of "A1b" with err 99.
Records eventPage() {
    Records file(4 * kRecord, 0);
    std::uint8_t* row = file.data() + kRecord;
    const std::uint8_t rowEvent[] = {4, 1, 0x35, 0, 0x0f, 0xFF};
    std::copy(std::begin(rowEvent), std::end(rowEvent), row + 906);
    std::uint8_t* bar = file.data() + 3 * kRecord;
    const std::uint8_t barEvent[] = {8, 0xFF, 99, 125, 4, 3, 'A', '1', 'b', 0xFF};
    std::copy(std::begin(barEvent), std::end(barEvent), bar + 906);
    return file;
}

struct ListingCase {
    const char* mode;
    const char* expected;
};

void PrintTo(const ListingCase& tc, std::ostream* os) {
    *os << "mode " << tc.mode;
}

class EventListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(EventListing, PrintsEventsByteForByte) {
    ScratchDir dir;
    dir.write("j1.prt", eventPage());
    const ToolResult result = runTool(PRTVIEW_PATH, {"j1.prt", GetParam().mode}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, GetParam().expected);
    EXPECT_FALSE(dir.exists("j1.bmp"));
    EXPECT_FALSE(dir.exists("1.41"));
}

INSTANTIATE_TEST_SUITE_P(Prtview, EventListing,
                         ::testing::Values(ListingCase{"3",
                                                       "01:  35    0f\n"
                                                       "------------------------------\n"
                                                       "err: 0  shift: 125  bar: 4   A1b\n"},
                                           ListingCase{"4",
                                                       "    1: 4 1 53 0 15 255\n"
                                                       "    3: 8 255 99 125 4 3 65 49 98 255\n"},
                                           ListingCase{"7", "\n\n"}, ListingCase{"0", ""},
                                           ListingCase{"-3", ""}));

TEST(Prtview, EventLengthsBeyondTheRecordStopAtItsEnd) {
    ScratchDir dir;
    Records file(kRecord, 0);
    file[906] = 250;
    file[907] = 2;
    file[959] = 0x11;
    dir.write("j1.prt", file);
    const ToolResult dump = runTool(PRTVIEW_PATH, {"j1.prt", "4"}, dir);
    // Bytes 906..959 only: the length, the row number, 51 codes and the last byte.
    EXPECT_EQ(dump.output.substr(0, 15), "    0: 250 2 0 ");
    EXPECT_EQ(dump.output.size(), std::string("    0: 250 2").size() + 51 * 2 + 3 + 1);
    EXPECT_EQ(dump.output.substr(dump.output.size() - 5), "0 17\n");

    const ToolResult listing = runTool(PRTVIEW_PATH, {"j1.prt", "3"}, dir);
    EXPECT_EQ(listing.output, "02: " + std::string(51 * 3, ' ') + " 11\n");

    file[907] = 0xFF;
    file[911] = 200;  // more characters than the record holds
    std::fill(file.begin() + 912, file.end(), 'x');
    dir.write("j1.prt", file);
    const ToolResult bar = runTool(PRTVIEW_PATH, {"j1.prt", "3"}, dir);
    EXPECT_EQ(bar.output, "------------------------------\nerr: 0  shift: 0  bar: 0   " +
                              std::string(48, 'x') + "\n");
}

TEST(Prtview, NameWithoutDotGetsBmpAppended) {
    ScratchDir dir;
    const Records file = uniformPage(3, 1);
    dir.write("page", file);
    const ToolResult result = runTool(PRTVIEW_PATH, {"page"}, dir);
    EXPECT_EQ(result.output, "page.bmp ok!\n");
    EXPECT_EQ(dir.read("page"), file);
    EXPECT_EQ(dir.read("page.bmp").size(), kBmpData + kLine);
}

TEST(Prtview, DotsInFrontOfTheFileNameAreNotItsExtension) {
    ScratchDir dir;
    const Records file = uniformPage(3, 1);
    dir.write("j1.prt", file);
    EXPECT_EQ(runTool(PRTVIEW_PATH, {"./j1.prt"}, dir).output, "./j1.bmp ok!\n");
    EXPECT_EQ(dir.read("j1.bmp").size(), kBmpData + kLine);
}

TEST(Prtview, OutputThatCannotBeCreatedIsReported) {
    ScratchDir dir;
    const Records file = uniformPage(3, 1);
    dir.write("j1.prt", file);
    std::filesystem::create_directory(dir / "j1.bmp");
    EXPECT_EQ(runTool(PRTVIEW_PATH, {"j1.prt", "1"}, dir).output, "j1.bmp cannot be created!\n");
    std::filesystem::create_directory(dir / "1.41");
    const ToolResult chart = runTool(PRTVIEW_PATH, {"j1.prt", "2"}, dir);
    EXPECT_EQ(chart.exitStatus, 0);
    EXPECT_EQ(chart.output, "1.41 cannot be created!\n");
}

}  // namespace
}  // namespace zerik::tools::testing
