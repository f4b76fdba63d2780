#include <gtest/gtest.h>

#include <set>

#include "recognition/barcode.h"
#include "recognition/code128.h"
#include "recognition/testkit/code128_encoder.h"
#include "recognition/testkit/test_sheet.h"

namespace recognition {
namespace {

using testkit::CodeSet;

TEST(Code128Table, EverySymbolIsElevenModulesWithEvenBarsAndUnique) {
    std::set<std::uint16_t> seen;
    for (int value = 0; value < kCode128SymbolCount; ++value) {
        const Code128Widths w = code128_widths(value);
        EXPECT_EQ(w[0] + w[1] + w[2] + w[3] + w[4] + w[5], 11) << value;
        EXPECT_EQ((w[0] + w[2] + w[4]) % 2, 0) << value;
        const std::uint16_t packed = code128_pack(w);
        EXPECT_TRUE(seen.insert(packed).second) << value;
        EXPECT_EQ(code128_value(packed), value);
    }
    EXPECT_EQ(code128_pack(code128_widths(0)), 1109);
    EXPECT_EQ(code128_pack(code128_widths(106)), 1664);
    EXPECT_EQ(code128_value(0), -1) << "111111 is no symbol";
}

TEST(Code128Encoder, SymbolsWithSetSwitchesAndCheck) {
    EXPECT_EQ(testkit::code128_symbols("1234", CodeSet::C),
              (std::vector<int>{105, 12, 34, 82, 106}));
    // 104 + 1*33 + 2*34 = 205; 205 mod 103 = 102.
    EXPECT_EQ(testkit::code128_symbols("AB", CodeSet::B),
              (std::vector<int>{104, 33, 34, 102, 106}));
    const auto mixed = testkit::code128_symbols("12X", CodeSet::C);
    EXPECT_EQ(mixed[1], 12);
    EXPECT_EQ(mixed[2], kCode128CodeB);
    EXPECT_EQ(mixed[3], 'X' - 32);
    const auto to_c = testkit::code128_symbols("A123456", CodeSet::A);
    EXPECT_EQ(to_c[2], kCode128CodeC);
    EXPECT_EQ(to_c[3], 12);
    EXPECT_THROW(testkit::code128_symbols("a", CodeSet::A), std::invalid_argument);
}

TEST(Code128Encoder, ModulesAndSamples) {
    const auto symbols = testkit::code128_symbols("1234", CodeSet::C);
    const auto modules = testkit::code128_modules(symbols);
    ASSERT_EQ(modules.size(), 6u * 5 + 1);
    int total = 0;
    for (int m : modules) total += m;
    EXPECT_EQ(total, 11 * 5 + 2);

    testkit::BarRendering r;
    r.samples_per_module = 4;
    r.quiet_samples = 10;
    const auto samples = testkit::render_bar_samples(modules, r);
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(20 + 4 * total));
    EXPECT_EQ(samples[9], r.space_darkness);
    EXPECT_EQ(samples[10], r.bar_darkness) << "start symbol begins with a 2-module bar";
    EXPECT_EQ(samples[17], r.bar_darkness);
    EXPECT_EQ(samples[18], r.space_darkness);
    r.reversed = true;
    const auto reversed = testkit::render_bar_samples(modules, r);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), reversed.rbegin()));
}

TEST(TestSheet, ColumnValuesShowPaperMarksTimingAndEnd) {
    testkit::SheetLayout layout;
    layout.rows = 3;
    layout.skew = 10;  // 10 lines per 1000 pixels: column 1 at x 200 is 1 line lower
    testkit::TestSheet sheet(layout);
    sheet.add_mark(2, 1, 40);
    sheet.add_mark(3, 6, 63);
    const auto values = sheet.column_values();
    ASSERT_EQ(values.size(), static_cast<std::size_t>(sheet.line_count()) + 1);
    EXPECT_EQ(values.back()[0], 64);
    EXPECT_GE(values[0][0], 60) << "backing before the paper reads dark";
    EXPECT_EQ(values[sheet.paper_start()][1], 6) << "blank paper";
    EXPECT_EQ(values[static_cast<std::size_t>(sheet.row_line(1))][0], 63) << "timing mark";
    EXPECT_EQ(values[static_cast<std::size_t>(sheet.mark_centre(2, 1))][1], 40);
    EXPECT_EQ(values[static_cast<std::size_t>(sheet.mark_centre(3, 6))][6], 63);
    EXPECT_EQ(sheet.mark_centre(2, 1), sheet.row_line(2) + 1 + 6);

    const auto lines = sheet.raw_lines();
    EXPECT_EQ(lines[5][6], 1);
    EXPECT_EQ(lines[6][6], 0);
    const ParameterFile p = sheet.parameters();
    EXPECT_EQ(p.column_count(), 7);
    EXPECT_EQ(p.positions[0], layout.timing_x);
    EXPECT_EQ(sheet.raw_page_file().size(), lines.size() * kRawLineBytes);
}

TEST(TestSheet, BarcodeAreaIsCentredAndSampledFromTheImage) {
    testkit::TestSheet sheet(testkit::SheetLayout{});
    const auto modules = testkit::code128_modules(testkit::code128_symbols("42", CodeSet::C));
    sheet.add_horizontal_barcode(300, 800, modules, 2.0, 20, 300);
    const BarSampling bar = sheet.parameters().bar;
    EXPECT_EQ(bar.type, 1);
    EXPECT_EQ(bar.length, 300);
    EXPECT_EQ(bar.x + bar.length / 2, 800 + 2 * 46 / 2);
    const auto lines = sheet.raw_lines();
    const RawLine& sampled = lines.at(static_cast<std::size_t>(sheet.paper_start() + bar.y));
    EXPECT_EQ(sheet.paper_start() + bar.y, 310);
    EXPECT_EQ(sampled[800], 0) << "first bar";
    EXPECT_EQ(sampled[799], sheet.layout().paper);
}

// The barcode sampling of the line preparation (63 - pixel / 4) reads the sheet's barcodes.
TEST(TestSheet, RenderedBarcodesDecodeFromTheirSamplingArea) {
    struct Case {
        bool vertical;
        double scale;
        const char* text;
    };
    for (const Case& c : {Case{false, 2.0, "Sheet-7"}, Case{false, 3.0, "123456"},
                          Case{true, 3.0, "42"}, Case{true, 4.0, "AB"}}) {
        testkit::SheetLayout layout;
        layout.rows = 12;
        testkit::TestSheet sheet(layout);
        const auto modules = testkit::code128_modules(testkit::code128_symbols(c.text, CodeSet::B));
        if (c.vertical) {
            sheet.add_vertical_barcode(150, 900, modules, c.scale, 30, 400);
        } else {
            sheet.add_horizontal_barcode(300, 800, modules, c.scale, 20, 500);
        }
        const BarSampling bar = sheet.parameters().bar;
        const auto lines = sheet.raw_lines();
        std::vector<std::int32_t> samples;
        for (int i = 0; i < bar.length; ++i) {
            const int y = sheet.paper_start() + bar.y + (c.vertical ? i : 0);
            const int x = bar.x + (c.vertical ? 0 : i);
            samples.push_back(63 - lines.at(static_cast<std::size_t>(y))[static_cast<std::size_t>(x)] / 4);
        }
        const BarcodeResult result = decode_code128(samples, DecoderVariant::sheetsim);
        EXPECT_EQ(result.code, bar_result::kDecoded) << c.text;
        EXPECT_EQ(result.text, c.text);
    }
}

}  // namespace
}  // namespace recognition
