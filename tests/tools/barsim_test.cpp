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

std::vector<std::uint8_t> barSamples(const std::string& text, bool reversed = false) {
    recognition::testkit::BarRendering rendering;
    rendering.reversed = reversed;
    const std::vector<std::int32_t> samples =
        recognition::testkit::render_bar_samples(barcodeModules(text), rendering);
    return {samples.begin(), samples.end()};
}

TEST(Barsim, UsageAndMissingFile) {
    ScratchDir dir;
    EXPECT_EQ(runTool(BARSIM_PATH, {}, dir).output,
              "\n\t*** Simulating tallon of bar ****\n\n\tUsage: barsim 002.prt\n");
    const ToolResult missing = runTool(BARSIM_PATH, {"002.prt"}, dir);
    EXPECT_EQ(missing.exitStatus, 0);
    EXPECT_EQ(missing.output, "002.prt not found!\n");
}

TEST(Barsim, DecodesTheFirstBarSampleLine) {
    ScratchDir dir;
    std::vector<std::uint8_t> page;
    append(page, shortRecord(columnLine(7, 6)));
    append(page, shortRecord(columnLine(7, 6)));
    const std::vector<std::uint8_t> samples = barSamples("Bar-99");
    append(page, shortRecord(barLine(samples)));
    append(page, shortRecord(barLine(barSamples("OTHER"))));  // never read
    dir.write("002.prt", page);
    const ToolResult result = runTool(BARSIM_PATH, {"002.prt"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output,
              "line: 3  length: " + std::to_string(samples.size()) + "  & 0 : Bar-99\n");
}

TEST(Barsim, ReversedSamplesGiveTheSameText) {
    ScratchDir dir;
    const std::vector<std::uint8_t> samples = barSamples("Bar-99", true);
    dir.write("002.prt", shortRecord(barLine(samples)));
    EXPECT_EQ(runTool(BARSIM_PATH, {"002.prt"}, dir).output,
              "line: 1  length: " + std::to_string(samples.size()) + "  & 0 : Bar-99\n");
}

TEST(Barsim, DecodeFailureIsOnlyTheResultCode) {
    ScratchDir dir;
    dir.write("002.prt", shortRecord(barLine(std::vector<std::uint8_t>(200, 5))));
    EXPECT_EQ(runTool(BARSIM_PATH, {"002.prt"}, dir).output, "line: 1  length: 200  & 5 : \n");
}

struct NoBarCase {
    const char* name;
    std::size_t records;
    std::size_t extraBytes;  // a partial record at the end
};

void PrintTo(const NoBarCase& tc, std::ostream* os) {
    *os << tc.name;
}

class BarsimWithoutBarLine : public ::testing::TestWithParam<NoBarCase> {};

TEST_P(BarsimWithoutBarLine, SaysSo) {
    ScratchDir dir;
    std::vector<std::uint8_t> page;
    for (std::size_t i = 0; i < GetParam().records; ++i)
        append(page, shortRecord(columnLine(7, 6)));
    // A bar-sample line cut short by the end of the file does not count.
    std::vector<std::uint8_t> partial = shortRecord(barLine(barSamples("X")));
    partial.resize(GetParam().extraBytes);
    append(page, partial);
    dir.write("002.prt", page);
    const ToolResult result = runTool(BARSIM_PATH, {"002.prt"}, dir);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "no bar data!!\n");
}

INSTANTIATE_TEST_SUITE_P(Barsim, BarsimWithoutBarLine,
                         ::testing::Values(NoBarCase{"Empty", 0, 0}, NoBarCase{"NoBarLine", 5, 0},
                                           NoBarCase{"TruncatedBarLine", 2, 947}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Barsim, SampleCountBeyondTheStoreIsRefused) {
    ScratchDir dir;
    auto record = shortRecord(barLine(std::vector<std::uint8_t>(100, 5)));
    record[8] = 0xF5;  // 501 samples
    record[9] = 0x01;
    dir.write("002.prt", record);
    EXPECT_EQ(runTool(BARSIM_PATH, {"002.prt"}, dir).output,
              "line: 1  length: 501  more than 500 samples!!\n");
    record[8] = 0xFF;  // 65535 samples: far past the record
    record[9] = 0xFF;
    dir.write("002.prt", record);
    EXPECT_EQ(runTool(BARSIM_PATH, {"002.prt"}, dir).output,
              "line: 1  length: 65535  more than 500 samples!!\n");
}

}  // namespace
}  // namespace zerik::tools::testing
