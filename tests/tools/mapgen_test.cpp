#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recognition/map_file.h"
#include "recognition/testkit/test_sheet.h"
#include "sheet_files.h"
#include "tool_runner.h"

namespace zerik::tools::testing {
namespace {

using recognition::testkit::SheetLayout;
using recognition::testkit::TestSheet;

std::vector<std::uint8_t> columnFile(const TestSheet& sheet) {
    std::vector<std::uint8_t> bytes;
    for (const recognition::ColumnValueRow& row : sheet.column_values(true)) {
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    return bytes;
}

SheetLayout thirtyRows() {
    SheetLayout layout;
    layout.rows = 30;
    return layout;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) {
        ++n;
    }
    return n;
}

TEST(Mapgen, MissingColumnFileIsReported) {
    ScratchDir dir;
    const ToolResult result = runTool(MAPGEN_PATH, {}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "1.41 not found!\n");
    EXPECT_FALSE(dir.exists("001.map"));
}

TEST(Mapgen, ThirtyRowsWithoutBarcode) {
    ScratchDir dir;
    TestSheet sheet(thirtyRows());
    sheet.add_mark(4, 1);
    sheet.add_mark(4, 2);  // codes only in columns 1 and 2: the record stops at column 2
    for (int c = 1; c <= 6; ++c) sheet.add_mark(9, c);
    dir.write("1.41", columnFile(sheet));
    const ToolResult result = runTool(MAPGEN_PATH, {}, dir);
    EXPECT_EQ(result.exitStatus, 0);

    const recognition::MapFile map = recognition::parse_map_file(dir.read("001.map"));
    EXPECT_TRUE(map.well_formed);
    ASSERT_EQ(map.rows.size(), 30u);
    for (std::size_t r = 0; r < map.rows.size(); ++r) {
        const std::vector<std::uint8_t>& row = map.rows[r];
        ASSERT_FALSE(row.empty());
        EXPECT_EQ(row[0], 0) << r;  // the zero byte before the codes of columns 1..N-1
    }
    ASSERT_EQ(map.rows[3].size(), 2u);
    EXPECT_NE(map.rows[3][1], 0);
    ASSERT_GE(map.rows[8].size(), 6u);
    for (std::size_t c = 1; c < 6; ++c) EXPECT_NE(map.rows[8][c], 0) << c;
    ASSERT_TRUE(map.end.has_value());
    EXPECT_EQ((*map.end)[0], 0);  // err
    EXPECT_EQ((*map.end)[3], 1);  // pass number
    ASSERT_TRUE(map.barcodes.has_value());
    EXPECT_TRUE(map.barcodes->empty());
    const auto bytes = dir.read("001.map");
    EXPECT_EQ(bytes[bytes.size() - 2], '&');
    EXPECT_EQ(bytes[bytes.size() - 1], 0);

    EXPECT_NE(result.output.find("04: "), std::string::npos);
    EXPECT_NE(result.output.find("30: "), std::string::npos);
    // Rows 4 and 9 have every printed column marked.
    EXPECT_EQ(count(result.output, "=============\n"), 2u) << result.output;
    EXPECT_NE(result.output.find(" c63: 1\n"), std::string::npos);
    EXPECT_EQ(result.output.substr(result.output.size() - 3), "&\n\n");
}

TEST(Mapgen, TableWithoutEndRunsToLine3000) {
    ScratchDir dir;
    SheetLayout layout = thirtyRows();
    layout.trail_lines = 0;  // dark backing after the paper would read as one more timing mark
    TestSheet sheet(layout);
    std::vector<std::uint8_t> bytes;
    for (const recognition::ColumnValueRow& row : sheet.column_values(false)) {
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    bytes.resize(2999 * 41, 6);  // light to the end of the table, never 64
    dir.write("1.41", bytes);
    const ToolResult result = runTool(MAPGEN_PATH, {}, dir);
    EXPECT_NE(result.output.find("* err: 0 shift: "), std::string::npos) << result.output;
    EXPECT_EQ(recognition::parse_map_file(dir.read("001.map")).rows.size(), 30u);
}

TEST(Mapgen, EmptyColumnFileEndsWithoutRows) {
    ScratchDir dir;
    dir.write("1.41", {});
    const ToolResult result = runTool(MAPGEN_PATH, {}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    const recognition::MapFile map = recognition::parse_map_file(dir.read("001.map"));
    EXPECT_TRUE(map.rows.empty());
    EXPECT_TRUE(map.end.has_value());
    EXPECT_EQ(result.output.substr(result.output.size() - 3), "&\n\n");
}

TEST(Mapgen, MapFileThatCannotBeCreatedIsReported) {
    ScratchDir dir;
    dir.write("1.41", columnFile(TestSheet(thirtyRows())));
    std::filesystem::create_directory(dir / "001.map");
    const ToolResult result = runTool(MAPGEN_PATH, {}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output.substr(result.output.size() - 30), "&\n\n001.map cannot be created!\n");
}

// A barcode printed down mark column 3, starting just above row 10's marks.
TestSheet sheetWithColumnBarcode(const std::string& text) {
    TestSheet sheet(thirtyRows());
    const int x = sheet.layout().column_x[2];
    sheet.add_vertical_barcode(sheet.mark_centre(10, 3) - 3, x, barcodeModules(text), 3.3,
                               sheet.layout().mark_width, 0, false);
    return sheet;
}

TEST(Mapgen, FindsABarcodePrintedDownAColumn) {
    ScratchDir dir;
    dir.write("1.41", columnFile(sheetWithColumnBarcode("V-17")));
    const ToolResult result = runTool(MAPGEN_PATH, {}, dir);
    EXPECT_EQ(result.output.substr(result.output.find("&")), "&    3_10: V-17 0\n\n")
        << result.output;
    const recognition::MapFile map = recognition::parse_map_file(dir.read("001.map"));
    EXPECT_TRUE(map.well_formed);
    ASSERT_TRUE(map.barcodes.has_value());
    ASSERT_EQ(map.barcodes->size(), 1u);
    const recognition::MapBarcodeEntry& entry = map.barcodes->front();
    EXPECT_EQ(entry.row, 10);
    EXPECT_EQ(entry.column, 3);
    EXPECT_EQ(entry.text, "V-17");
    EXPECT_EQ(entry.result, 0);
}

// The lead's demo chain on one page: sheetsim, prtview mode 2, mapgen.
TEST(Mapgen, ReadsWhatSheetsimAndPrtviewProduce) {
    ScratchDir dir;
    const SheetLayout layout = thirtyRows();  // 1228 lines: the paper end is seen
    TestSheet sheet(layout);
    const int x = layout.column_x[2];
    sheet.add_vertical_barcode(sheet.mark_centre(10, 3) - 3, x, barcodeModules("V-17"), 3.3,
                               layout.mark_width, 0, false);
    sheet.add_horizontal_barcode(40, 1100, barcodeModules("TOP"), 3.3, 30, 400);
    writeSheetFiles(dir, sheet);
    const ToolResult sim = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    ASSERT_NE(sim.output.find(": TOP\n"), std::string::npos) << sim.output;
    const ToolResult chart = runTool(PRTVIEW_PATH, {"j1.prt", "2"}, dir);
    ASSERT_EQ(chart.output, "j1.bmp ok!   1.41 ok! (run mapgen <pls>)\n");
    const ToolResult map = runTool(MAPGEN_PATH, {}, dir);
    EXPECT_EQ(map.output.substr(map.output.find("&")), "&    3_10: V-17 0\n\n") << map.output;
    EXPECT_EQ(recognition::parse_map_file(dir.read("001.map")).rows.size(), 30u);
}

}  // namespace
}  // namespace zerik::tools::testing
