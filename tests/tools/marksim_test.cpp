#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "recognition/result_line.h"
#include "recognition/testkit/code128_encoder.h"
#include "recognition/testkit/test_sheet.h"
#include "sheet_files.h"
#include "short_pages.h"
#include "tool_runner.h"

namespace zerik::tools::testing {
namespace {

using recognition::testkit::SheetLayout;
using recognition::testkit::TestSheet;

TEST(Marksim, UsageAndMissingFile) {
    ScratchDir dir;
    EXPECT_EQ(runTool(MARKSIM_PATH, {}, dir).output,
              "\n\t*** Simulating tallon of cut ****\n\n\tUsage: marksim 001.prt\n");
    EXPECT_EQ(runTool(MARKSIM_PATH, {"001.prt"}, dir).output, "001.prt not found!\n");
}

TEST(Marksim, PrintsRowsSeparatorsAndTheEndLine) {
    ScratchDir dir;
    const TestSheet sheet = markedSheet(SheetLayout{});
    const std::vector<std::uint8_t> page = markPage(sheet);
    dir.write("001.prt", page);
    const ToolResult result = runTool(MARKSIM_PATH, {"001.prt"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    const std::vector<std::string> rows = rowLines(result.output);
    ASSERT_EQ(rows.size(), 10u) << result.output;
    for (int r = 1; r <= 10; ++r) {
        char number[8];
        std::snprintf(number, sizeof number, "%02d: ", r);
        EXPECT_EQ(rows[r - 1].substr(0, 4), number);
        EXPECT_EQ(rows[r - 1].size(), 4u + 6u * 3u);
    }
    // Only row 5 has every column marked; the separator follows it.
    const std::size_t row5 = result.output.find(rows[4] + "\n");
    ASSERT_NE(row5, std::string::npos);
    EXPECT_EQ(result.output.compare(row5 + rows[4].size() + 1, 18, "=================\n"), 0);
    std::size_t separators = 0;
    for (std::size_t at = 0;
         (at = result.output.find("=================\n", at)) != std::string::npos; ++at) {
        ++separators;
    }
    EXPECT_EQ(separators, 1u);
    // The end row is line line_count(); the cut examines it once 22 more lines are stored.
    const std::string endLine = "* err: 0 shift: ";
    const std::size_t end = result.output.find(endLine);
    ASSERT_NE(end, std::string::npos) << result.output;
    EXPECT_NE(result.output.find(" fch: " + std::to_string(sheet.line_count() + 23) + "\n", end),
              std::string::npos)
        << result.output;
}

TEST(Marksim, TrailingPartialRecordIsDropped) {
    ScratchDir dir;
    const TestSheet sheet = markedSheet(SheetLayout{});
    std::vector<std::uint8_t> page = markPage(sheet);
    const ToolResult whole = [&] {
        dir.write("001.prt", page);
        return runTool(MARKSIM_PATH, {"001.prt"}, dir);
    }();
    page.resize(page.size() + 500, 0x40);
    dir.write("001.prt", page);
    const ToolResult withTail = runTool(MARKSIM_PATH, {"001.prt"}, dir);
    EXPECT_EQ(withTail.exitStatus, 0);
    EXPECT_EQ(withTail.output, whole.output);
    EXPECT_NE(whole.output.find("* err: 0"), std::string::npos);
}

TEST(Marksim, ColumnCountAbove41IsRefused) {
    ScratchDir dir;
    std::vector<std::uint8_t> page;
    for (int i = 0; i < 3; ++i) append(page, shortRecord(columnLine(7, 6)));
    auto bad = shortRecord(columnLine(7, 6));
    bad[864] = 100;
    append(page, bad);
    dir.write("001.prt", page);
    const ToolResult result = runTool(MARKSIM_PATH, {"001.prt"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "001.prt: line 3 has 100 columns, at most 41!\n");
}

TEST(Marksim, LinesWithoutColumnsCopyNothing) {
    ScratchDir dir;
    // Negative and zero counts carry no columns; the cut sees an empty ring and ends nowhere.
    std::vector<std::uint8_t> page;
    for (int i = 0; i < 200; ++i) append(page, shortRecord(columnLine(i % 2 == 0 ? 0 : -5, 63)));
    dir.write("001.prt", page);
    const ToolResult result = runTool(MARKSIM_PATH, {"001.prt"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
}

}  // namespace
}  // namespace zerik::tools::testing
