#include <gtest/gtest.h>

#include <map>
#include <string>
#include <variant>
#include <vector>

#include "recognition/parameter_file.h"
#include "recognition/result_line.h"
#include "recognition/testkit/test_sheet.h"
#include "sheet_files.h"
#include "short_pages.h"
#include "tool_runner.h"

namespace zerik::tools::testing {
namespace {

using recognition::testkit::SheetLayout;
using recognition::testkit::TestSheet;

constexpr std::size_t kRecord = 960;

// Twelve rows on a page long enough for the paper end (looked for from line 1000 on): the
// paper runs from line 30 to 1059, the backing follows.
SheetLayout longLayout() {
    SheetLayout layout;
    layout.rows = 12;
    layout.bottom_margin = 1060 - (30 + 60 + 11 * 36 + 14);
    return layout;
}
constexpr int kFirstBackingLine = 1060;

// Filled marks where (row + column) is a multiple of 3, row 5 filled across, and one faint
// mark (row 2, column 2) that must not count.
std::map<std::pair<int, int>, bool> addMarks(TestSheet& sheet) {
    std::map<std::pair<int, int>, bool> filled;
    for (int row = 1; row <= sheet.layout().rows; ++row) {
        for (int column = 1; column < sheet.column_count(); ++column) {
            if ((row + column) % 3 == 0 || row == 5) {
                sheet.add_mark(row, column);
                filled[{row, column}] = true;
            }
        }
    }
    sheet.add_mark(2, 2, 14);
    return filled;
}

std::vector<recognition::ResultLine> resultLines(const std::vector<std::uint8_t>& file) {
    std::vector<recognition::ResultLine> lines;
    for (const recognition::ResultRecord& record : recognition::split_result_records(file)) {
        lines.push_back(recognition::decode_result_line(record));
    }
    return lines;
}

// The "%02d: " line the cut prints for a row of codes.
std::string rowLine(int row, const std::vector<std::uint8_t>& codes) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d: ", row);
    std::string line = text;
    for (std::uint8_t code : codes) {
        if (code == 0) {
            line += "   ";
        } else {
            std::snprintf(text, sizeof text, "%02x ", code);
            line += text;
        }
    }
    return line + "\n";
}

TEST(Sheetsim, UsageWithoutArguments) {
    ScratchDir dir;
    const ToolResult result = runTool(SHEETSIM_PATH, {}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output,
              "\n\t*** Simulating tallon scanning a sheet ****\n"
              "\n\tUsage: sheetsim 01.prt [!]\n"
              "\n\tneed c5502.par support\n\tinclude:\n\tn41 p1 p2 ....\n\tbarT barX barY barL\n"
              "\n\t! make marker at outfile j*.prt\n"
              "\n\tafter run prtview\n\n");
}

struct MissingCase {
    const char* name;
    const char* removed;
    const char* expectedEnd;
};

void PrintTo(const MissingCase& tc, std::ostream* os) {
    *os << tc.name;
}

class SheetsimMissingFile : public ::testing::TestWithParam<MissingCase> {};

TEST_P(SheetsimMissingFile, IsReportedAndNothingIsWritten) {
    ScratchDir dir;
    writeSheetFiles(dir, TestSheet(SheetLayout{}));
    std::filesystem::remove(dir / GetParam().removed);
    const ToolResult result = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    const std::string end = GetParam().expectedEnd;
    ASSERT_GE(result.output.size(), end.size());
    EXPECT_EQ(result.output.substr(result.output.size() - end.size()), end);
    EXPECT_FALSE(dir.exists("j1.prt"));
}

INSTANTIATE_TEST_SUITE_P(
    Sheetsim, SheetsimMissingFile,
    ::testing::Values(MissingCase{"Parameters", "c5502.par", "\n\tc5502.par not found!\n"},
                      MissingCase{"Shading", "red.tbl", "\n0 0 0 0\nred.tbl not found!\n"},
                      MissingCase{"Page", "01.prt", "\n0 0 0 0\n01.prt not found!\n"}),
    [](const auto& param) { return std::string(param.param.name); });

struct RefusedCase {
    const char* name;
    const char* parameters;
};

void PrintTo(const RefusedCase& tc, std::ostream* os) {
    *os << tc.name;
}

class SheetsimRefusedParameters : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SheetsimRefusedParameters, AreReportedBeforeAnyLineIsRead) {
    ScratchDir dir;
    writeSheetFiles(dir, TestSheet(SheetLayout{}));
    dir.writeText("c5502.par", GetParam().parameters);
    const ToolResult result = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output.rfind("\n\tc5502.par refused: ", 0), 0u) << result.output;
    EXPECT_FALSE(dir.exists("j1.prt"));
}

INSTANTIATE_TEST_SUITE_P(
    Sheetsim, SheetsimRefusedParameters,
    ::testing::Values(RefusedCase{"TooManyColumns", "42\n"},
                      RefusedCase{"PositionAtLineStart", "2\n0\n300\n0 0 0 0\n"},
                      RefusedCase{"PositionAtLineEnd", "2\n60\n1727\n0 0 0 0\n"},
                      RefusedCase{"TooManyBarSamples", "1\n60\n1 100 10 501\n"},
                      RefusedCase{"BarRunPastLineEnd", "1\n60\n1 1500 10 300\n"},
                      RefusedCase{"Empty", ""}),
    [](const auto& param) { return std::string(param.param.name); });

class SheetsimSheet : public ::testing::Test {
  protected:
    void SetUp() override {
        sheet_.emplace(longLayout());
        filled_ = addMarks(*sheet_);
        sheet_->add_horizontal_barcode(40, 1100, barcodeModules("ZK-42"), 3.3, 30, 500);
        writeSheetFiles(dir_, *sheet_);
    }

    std::vector<std::uint8_t> expectedCodesFilled(int row) const {
        std::vector<std::uint8_t> marked;
        for (int c = 1; c < sheet_->column_count(); ++c) marked.push_back(filled_.count({row, c}));
        return marked;
    }

    ScratchDir dir_;
    std::optional<TestSheet> sheet_;
    std::map<std::pair<int, int>, bool> filled_;
};

TEST_F(SheetsimSheet, FindsEveryMarkAndTheBarcode) {
    const ToolResult result = runTool(SHEETSIM_PATH, {"01.prt"}, dir_);
    EXPECT_EQ(result.exitStatus, 0);
    const std::string& out = result.output;

    const std::string echo = "c5502.par\n7 60 200 300 400 500 600 700 \n1 ";
    EXPECT_EQ(out.substr(0, echo.size()), echo);
    EXPECT_NE(out.find("\n& 0 " + std::to_string(sheet_->parameters().bar.x) + "_" +
                       std::to_string(sheet_->parameters().bar.y) + ": ZK-42\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("* err: 0 shift: "), std::string::npos);
    EXPECT_NE(out.find(" fch: " + std::to_string(kFirstBackingLine + 9) + "\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.substr(out.size() - 17), "j1.prt produced!\n");

    const auto file = dir_.read("j1.prt");
    ASSERT_EQ(file.size(), kRecord * static_cast<std::size_t>(sheet_->line_count()));
    const std::vector<recognition::ResultLine> lines = resultLines(file);
    const auto columns = sheet_->column_values(false);

    std::vector<int> rowsSeen;
    for (std::size_t y = 0; y < lines.size(); ++y) {
        const recognition::ResultLine& line = lines[y];
        ASSERT_EQ(line.column_count, 7);
        for (std::size_t c = 0; c < 7; ++c) ASSERT_EQ(line.darkness[c], columns[y][c]) << y;
        if (const auto* row = std::get_if<recognition::RowEvent>(&line.event)) {
            rowsSeen.push_back(row->row);
            // The row's event stands in the line read after the row was evaluated: 23 lines
            // after the timing mark's first light line (row 1 is evaluated one line later).
            const int light = sheet_->row_line(row->row) + sheet_->layout().mark_lines;
            EXPECT_EQ(static_cast<int>(y), light + 23 + (row->row == 1 ? 1 : 0)) << row->row;
            ASSERT_EQ(row->codes.size(), 6u);
            std::vector<std::uint8_t> marked;
            for (std::uint8_t code : row->codes) marked.push_back(code != 0);
            EXPECT_EQ(marked, expectedCodesFilled(row->row)) << "row " << int{row->row};
            for (std::uint8_t code : row->codes) {
                if (code != 0) {
                    EXPECT_EQ(code & 0x0f, 15) << "row " << int{row->row};
                }
            }
            EXPECT_NE(out.find(rowLine(row->row, row->codes)), std::string::npos) << out;
        } else if (const auto* bar = std::get_if<recognition::BarcodeEvent>(&line.event)) {
            EXPECT_EQ(static_cast<int>(y), kFirstBackingLine + 9);
            EXPECT_EQ(bar->err, 99);
            EXPECT_EQ(bar->result, 0);
            EXPECT_EQ(bar->text, "ZK-42");
        }
    }
    EXPECT_EQ(rowsSeen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ASSERT_TRUE(
        std::holds_alternative<recognition::BarcodeEvent>(lines[kFirstBackingLine + 9].event));
}

TEST_F(SheetsimSheet, MarkersPaintTheSamplingPointsFromPaperStartToPaperEnd) {
    const ToolResult result = runTool(SHEETSIM_PATH, {"01.prt", "!"}, dir_);
    EXPECT_EQ(result.exitStatus, 0);
    const auto plain = sheet_->raw_lines();
    const std::vector<recognition::ResultLine> lines = resultLines(dir_.read("j1.prt"));
    ASSERT_EQ(lines.size(), plain.size());
    const recognition::ParameterFile parameters = sheet_->parameters();
    const int paperStart = sheet_->paper_start();
    const int paperEndSeen = kFirstBackingLine + 8;  // ninth line without paper
    // Every column position is even, so even lines carry them at (p - 16) / 2.
    for (int y = 0; y < static_cast<int>(lines.size()); y += 2) {
        for (std::int16_t p : parameters.positions) {
            const std::uint8_t pixel = lines[y].image[static_cast<std::size_t>(p - 16) / 2];
            if (y >= paperStart && y < paperEndSeen) {
                ASSERT_EQ(pixel, 255) << "line " << y << " position " << p;
            } else {
                ASSERT_EQ(pixel, plain[y][p]) << "line " << y << " position " << p;
            }
        }
    }
    // The barcode run is painted on its one sampling line.
    const int barLine = paperStart + parameters.bar.y;
    const recognition::ResultLine& bar = lines[barLine];
    const int q = barLine % 2;
    for (int x = parameters.bar.x + (parameters.bar.x - q) % 2;
         x < parameters.bar.x + parameters.bar.length; x += 2) {
        ASSERT_EQ(bar.image[static_cast<std::size_t>(x - 16 - q) / 2], 255) << x;
    }
    // The column values come from the pixels before the markers were painted.
    const auto columns = sheet_->column_values(false);
    for (std::size_t y = 0; y < lines.size(); ++y) {
        for (std::size_t c = 0; c < 7; ++c) ASSERT_EQ(lines[y].darkness[c], columns[y][c]);
    }
    EXPECT_NE(result.output.find(": ZK-42\n"), std::string::npos);
}

TEST_F(SheetsimSheet, MarkersReachThePagePictureUnaveraged) {
    runTool(SHEETSIM_PATH, {"01.prt", "!"}, dir_);
    const ToolResult view = runTool(PRTVIEW_PATH, {"j1.prt", "1"}, dir_);
    ASSERT_EQ(view.output, "j1.bmp ok!\n");
    const auto bmp = dir_.read("j1.bmp");
    const std::size_t lines = static_cast<std::size_t>(sheet_->line_count());
    ASSERT_EQ(bmp.size(), 1078 + 1728 * (lines - 2));
    // Picture row i is built around record i + 1. For an odd record the even positions are
    // not averaged: they keep the pixels of the even record before it.
    const int paperStart = sheet_->paper_start();
    for (std::size_t i = 0; i + 2 < lines; ++i) {
        const std::size_t record = i + 1;
        if (record % 2 == 0) continue;
        const int previous = static_cast<int>(record) - 1;
        const bool painted = previous >= paperStart && previous < kFirstBackingLine + 8;
        for (std::int16_t p : sheet_->parameters().positions) {
            const std::uint8_t pixel = bmp[1078 + i * 1728 + static_cast<std::size_t>(p)];
            if (painted) {
                ASSERT_EQ(pixel, 255) << "row " << i << " position " << p;
            } else {
                ASSERT_NE(pixel, 255) << "row " << i << " position " << p;
            }
        }
    }
}

TEST_F(SheetsimSheet, ImageIsTheHalfResolutionOfTheShadedLine) {
    runTool(SHEETSIM_PATH, {"01.prt"}, dir_);
    const auto plain = sheet_->raw_lines();
    const auto file = dir_.read("j1.prt");
    for (std::size_t y : {0u, 1u, 97u, 500u, 1079u}) {
        const std::size_t q = y % 2;
        for (std::size_t i = 0; i < 8; ++i) ASSERT_EQ(file[y * kRecord + i], plain[y][i]);
        for (std::size_t i = 0; i < 856; ++i) {
            // Identity shading turns 255 into 254; the sheet has no 255 pixels.
            ASSERT_EQ(file[y * kRecord + 8 + i], plain[y][16 + q + 2 * i]) << y << " " << i;
        }
    }
}

TEST(Sheetsim, VerticalBarcodeIsSampledOnePixelPerLine) {
    ScratchDir dir;
    TestSheet sheet(longLayout());
    // Down the right-hand side, clear of the mark columns and the paper probe.
    sheet.add_vertical_barcode(300, 1400, barcodeModules("V-17"), 3.3, 40, 480);
    writeSheetFiles(dir, sheet);
    const ToolResult result = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    const recognition::BarSampling bar = sheet.parameters().bar;
    EXPECT_NE(result.output.find("\n& 0 " + std::to_string(bar.x) + "_" + std::to_string(bar.y) +
                                 ": V-17\n"),
              std::string::npos)
        << result.output;
}

TEST(Sheetsim, WithoutBarcodeAreaNoReportAndNoBarcodeEvent) {
    ScratchDir dir;
    TestSheet sheet(longLayout());
    addMarks(sheet);
    writeSheetFiles(dir, sheet);
    const ToolResult result = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    EXPECT_EQ(result.output.find("&"), std::string::npos);
    EXPECT_NE(result.output.find("* err: 0"), std::string::npos);
    for (const recognition::ResultLine& line : resultLines(dir.read("j1.prt"))) {
        ASSERT_FALSE(std::holds_alternative<recognition::BarcodeEvent>(line.event));
    }
}

TEST(Sheetsim, ShortPageGetsNoEndLineButEveryResultLine) {
    ScratchDir dir;
    TestSheet sheet(SheetLayout{});  // 508 lines: the paper end is never looked for
    addMarks(sheet);
    sheet.add_horizontal_barcode(40, 1100, barcodeModules("A"), 3.3, 30, 300);
    writeSheetFiles(dir, sheet);
    auto page = sheet.raw_page_file();
    page.resize(page.size() + 100, 0x55);  // a trailing partial line is dropped
    dir.write("01.prt", page);
    const ToolResult result = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    EXPECT_EQ(result.output.find("* err"), std::string::npos);
    EXPECT_EQ(result.output.find("&"), std::string::npos);
    EXPECT_NE(result.output.find("10: "), std::string::npos);
    EXPECT_EQ(dir.read("j1.prt").size(), kRecord * static_cast<std::size_t>(sheet.line_count()));
}

TEST(Sheetsim, EmptyPageGivesAnEmptyResultFile) {
    ScratchDir dir;
    writeSheetFiles(dir, TestSheet(SheetLayout{}));
    dir.write("01.prt", {});
    const ToolResult result = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    EXPECT_EQ(result.output.substr(result.output.size() - 17), "j1.prt produced!\n");
    EXPECT_TRUE(dir.exists("j1.prt"));
    EXPECT_TRUE(dir.read("j1.prt").empty());
}

TEST(Sheetsim, OutputProblemsAreReported) {
    ScratchDir dir;
    writeSheetFiles(dir, TestSheet(SheetLayout{}));
    std::filesystem::create_directory(dir / "j1.prt");
    const ToolResult blocked = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    EXPECT_EQ(blocked.exitStatus, 0);
    EXPECT_NE(blocked.output.find("j1.prt cannot be created!\n"), std::string::npos);

    // A page whose name already starts with 'j' would be its own result file.
    writeSheetFiles(dir, TestSheet(SheetLayout{}), "j7.prt");
    const auto page = dir.read("j7.prt");
    const ToolResult self = runTool(SHEETSIM_PATH, {"j7.prt"}, dir);
    EXPECT_NE(self.output.find("j7.prt would overwrite the input!\n"), std::string::npos);
    EXPECT_EQ(dir.read("j7.prt"), page);
}

TEST(Sheetsim, PageInAnotherDirectoryGetsItsResultBesideIt) {
    ScratchDir dir;
    writeSheetFiles(dir, TestSheet(SheetLayout{}));
    std::filesystem::create_directory(dir / "pages");
    std::filesystem::rename(dir / "01.prt", dir / "pages" / "01.prt");
    const ToolResult result = runTool(SHEETSIM_PATH, {"pages/01.prt"}, dir);
    EXPECT_NE(result.output.find("pages/j1.prt produced!\n"), std::string::npos);
    EXPECT_TRUE(dir.exists("pages/j1.prt"));
}

TEST(Sheetsim, AgreesWithMarksimOnTheSameSheet) {
    ScratchDir dir;
    SheetLayout layout;
    layout.rows = 12;
    layout.bottom_margin = 560;
    const TestSheet sheet = markedSheet(layout);
    dir.write("001.prt", markPage(sheet));
    writeSheetFiles(dir, sheet, "01.prt");
    const ToolResult marks = runTool(MARKSIM_PATH, {"001.prt"}, dir);
    const ToolResult sheetRun = runTool(SHEETSIM_PATH, {"01.prt"}, dir);
    const std::vector<std::string> rows = rowLines(marks.output);
    EXPECT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows, rowLines(sheetRun.output));
}

}  // namespace
}  // namespace zerik::tools::testing
