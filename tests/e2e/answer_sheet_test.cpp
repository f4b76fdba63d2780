// The simulated scanner's answer sheet: form parsing, and the rendered page read back with
// the recognition code as the sheet simulator reads it.
#include "answer_sheet.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "answer_form.h"
#include "recognition/barcode.h"
#include "recognition/mark_cut.h"
#include "recognition/parameter_file.h"
#include "recognition/raw_page.h"
#include "sheet_reading.h"

namespace zerik::sim {
namespace {

Form DefaultForm() {
    Form form;
    std::string error;
    EXPECT_TRUE(ParseForm(DefaultFormText(), &form, &error)) << error;
    return form;
}

RenderedSheet Render(const Form& form) {
    RenderedSheet sheet;
    std::string error;
    EXPECT_TRUE(RenderAnswerSheet(form, &sheet, &error)) << error;
    return sheet;
}

// The column darkness of a raw line at a position, after neutral shading (255 -> 254).
int ColumnDarkness(const std::uint8_t* line, int p) {
    auto px = [&](int x) { return std::min<int>(line[x], 254); };
    return 63 - (((px(p - 1) + px(p) + px(p + 1)) * 10) >> 7);
}

// Reads the page as the sheet simulator does: neutral shading, paper start and end, the
// column darkness of every line into the cut, the barcode run on its line.
struct Reading {
    std::string rows;  // the cut's printed rows
    int bar_code = -1;
    std::string bar_text;
};

Reading ReadPage(const RenderedSheet& sheet) {
    const recognition::ParameterFile& p = sheet.parameters;
    recognition::MarkCut cut(recognition::CutVariant::sheetsim, p.column_count());
    std::ostringstream out;
    std::vector<std::int32_t> samples;
    int paper_start = 0;
    int end_count = 0;
    for (int y = 0; y < sheet.lines; ++y) {
        const std::uint8_t* line = sheet.page.data() + static_cast<std::size_t>(y) * 1728;
        if (y > 9 && paper_start == 0) {
            int dark = 0;
            for (int x = 764; x <= 963; ++x) dark += line[x] < 200;
            if (dark < 9) paper_start = y;
        }
        if (y >= 1000 && end_count < 9) {
            int light = 0;
            for (int x = 764; x <= 963; ++x) light += line[x] > 20;
            end_count = light < 9 ? end_count + 1 : 0;
            if (end_count == 9) cut.set_darkness(cut.state().cur + 1, 0, 64);
        }
        std::vector<std::uint8_t> darkness(static_cast<std::size_t>(p.column_count()));
        for (int c = 0; c < p.column_count(); ++c) {
            darkness[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(
                ColumnDarkness(line, p.positions[static_cast<std::size_t>(c)]));
        }
        cut.store_line(y, darkness);
        if (paper_start != 0 && y == paper_start + p.bar.y) {
            for (int x = p.bar.x; x < p.bar.x + p.bar.length; ++x) {
                samples.push_back(63 - std::min<int>(line[x], 254) / 4);
            }
        }
        if (!cut.ended()) cut.run(y + 1, out);
    }
    Reading reading;
    reading.rows = out.str();
    if (cut.ended()) {
        samples.resize(static_cast<std::size_t>(p.bar.length), 0);
        const auto bar =
            recognition::decode_code128(samples, recognition::DecoderVariant::sheetsim);
        reading.bar_code = bar.code;
        reading.bar_text = bar.text;
    }
    return reading;
}

TEST(AnswerSheet, DefaultSheetReadsBackAsDrawn) {
    const Form form = DefaultForm();
    const RenderedSheet sheet = Render(form);
    const Reading reading = ReadPage(sheet);
    const std::vector<std::string> read = MarkRowsFromListing(reading.rows, form.columns.size());
    EXPECT_EQ(read, ExpectedRows(form)) << reading.rows;
    EXPECT_EQ(reading.bar_code, 0);
    EXPECT_EQ(reading.bar_text, form.barcode.text);
}

TEST(AnswerSheet, DefaultFormHasEveryKindOfMark) {
    const Form form = DefaultForm();
    int fills = 0, halves = 0, smudges = 0;
    for (const FormMark& m : form.marks) {
        fills += m.kind == MarkKind::Fill;
        halves += m.kind == MarkKind::Half;
        smudges += m.kind == MarkKind::Smudge;
    }
    EXPECT_GT(fills, 50);
    EXPECT_GE(halves, 2);
    EXPECT_GE(smudges, 2);
    EXPECT_TRUE(form.calibration_row);
    EXPECT_NE(form.skew_degrees, 0);
}

// Skew both ways, no skew, a sheet without calibration row or barcode: each reads back.
TEST(AnswerSheet, VariantsReadBack) {
    const std::string base = R"(paper 1654 1300
place 40 30 50
rows 20 250 36 14
timing 60 36
columns 300 350 400 450 500 900 950 1000 1400 1450
box 26
fill 2 1
fill 3 2 50
half 4 3
smudge 4 4
fill 5 10
half 6 9 24
fill 7 5
fill 9 1
fill 11 6
fill 13 8
fill 15 10
fill 17 2
)";
    struct Case {
        const char* name;
        std::string extra;
    };
    const Case cases[] = {
        {"no skew, calibration row, barcode", "calibration\nbarcode 900 60 3 60 AB-12\n"},
        {"skew right", "skew 0.6\ncalibration\nbarcode 900 60 3 60 X9\n"},
        {"skew left", "skew -0.6\ncalibration\nbarcode 900 60 3 60 0042\n"},
        {"no calibration row", "skew 0.1\nfill 1 1\nfill 1 10\n"},
        {"noisy paper", "shade 225 14 4\nseed 99\ncalibration\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Form form;
        std::string error;
        ASSERT_TRUE(ParseForm(base + c.extra, &form, &error)) << error;
        const RenderedSheet sheet = Render(form);
        const Reading reading = ReadPage(sheet);
        EXPECT_EQ(MarkRowsFromListing(reading.rows, form.columns.size()), ExpectedRows(form))
            << reading.rows;
        if (!form.barcode.text.empty()) {
            EXPECT_EQ(reading.bar_code, 0);
            EXPECT_EQ(reading.bar_text, form.barcode.text);
        } else {
            EXPECT_EQ(sheet.parameters.bar.type, 0);
        }
    }
}

TEST(AnswerSheet, PageLayout) {
    const Form form = DefaultForm();
    const RenderedSheet sheet = Render(form);
    ASSERT_EQ(sheet.page.size(), static_cast<std::size_t>(sheet.lines) * 1728);
    for (int y : {0, 1, 2, 77, sheet.lines - 1}) {
        const std::uint8_t* line = sheet.page.data() + static_cast<std::size_t>(y) * 1728;
        EXPECT_EQ(line[0] | (line[1] << 8), y);
        EXPECT_EQ(line[2] | (line[3] << 8), 1728);
        EXPECT_EQ(line[6], y & 1);
    }
    // Backing before and after the paper, lighter than 21 everywhere (the reader's end test).
    for (int y : {0, 5, sheet.lines - 1}) {
        const std::uint8_t* line = sheet.page.data() + static_cast<std::size_t>(y) * 1728;
        for (int x = 16; x < 1728; ++x) ASSERT_LE(line[x], 20) << y << " " << x;
    }
    EXPECT_GE(sheet.paper_start, form.lead_lines);
    EXPECT_LE(sheet.paper_start, form.lead_lines + 12);
    // The paper is narrower than the line: backing shows at both sides mid-page.
    const std::uint8_t* middle =
        sheet.page.data() + static_cast<std::size_t>(sheet.lines / 2) * 1728;
    EXPECT_LE(middle[20], 20);
    EXPECT_LE(middle[1720], 20);
    EXPECT_GE(middle[1000], 200);
    // Column positions: timing column, then one per mark column, inside the line.
    ASSERT_EQ(sheet.parameters.column_count(), static_cast<int>(form.columns.size()) + 1);
    EXPECT_EQ(sheet.parameters.bar.type, 1);
    EXPECT_EQ(sheet.parameters.bar.length, 500);
    // The parameter file round-trips through the reader's parser.
    const auto parsed =
        recognition::parse_parameter_file(recognition::format_parameter_file(sheet.parameters));
    ASSERT_TRUE(parsed.parameters) << parsed.error;
    EXPECT_EQ(parsed.parameters->positions, sheet.parameters.positions);
}

TEST(AnswerSheet, MarkDarknessIsTheRequestedOne) {
    Form form;
    std::string error;
    ASSERT_TRUE(
        ParseForm("paper 1654 1200\nrows 10 200 40 14\ncolumns 400 800\nshade 236 10 0\n"
                  "fill 3 1 60\nhalf 4 2 28\nsmudge 5 1 12\n",
                  &form, &error))
        << error;
    const RenderedSheet sheet = Render(form);
    auto darkness_at = [&](int row, int column) {
        const int y = sheet.paper_start + (form.lead_lines - sheet.paper_start) + form.first_row +
                      (row - 1) * form.pitch + form.mark_height / 2;
        const std::uint8_t* line = sheet.page.data() + static_cast<std::size_t>(y) * 1728;
        return ColumnDarkness(line, sheet.parameters.positions[static_cast<std::size_t>(column)]);
    };
    // Pencil texture only ever darkens, by at most one step.
    EXPECT_EQ(darkness_at(3, 1), 60);
    EXPECT_GE(darkness_at(4, 2), 28);
    EXPECT_LE(darkness_at(4, 2), 29);
    EXPECT_GE(darkness_at(5, 1), 12);
    EXPECT_LE(darkness_at(5, 1), 13);
    EXPECT_EQ(darkness_at(2, 1), 8);  // blank paper of shade 236
}

TEST(AnswerSheet, FormErrorsNameTheLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"paper 1654\n", "form line 1: missing height"},
        {"paper 1654 x\n", "form line 1: bad height: x"},
        {"bogus 1\n", "form line 1: unknown setting bogus"},
        {"rows 10 200 40 14\ncolumns 400\nfill 3 1 30\n", "form line 3: darkness must be 45..63"},
        {"rows 10 200 40 14\ncolumns 400\nhalf 3 1 40\n", "form line 3: darkness must be 22..34"},
        {"rows 10 200 40 14\ncolumns 400\nsmudge 3 1 20\n", "form line 3: darkness must be 0..14"},
        {"rows 10 200 40 14\ncolumns 400\nfill 11 1\n", "form: mark in row 11, the grid has 10"},
        {"rows 10 200 40 14\ncolumns 400\nfill 2 2\n", "form: mark in column 2, the grid has 1"},
        {"rows 10 200 40 14\ncolumns 400\nfill 2 1\nhalf 2 1\n",
         "form: two marks in row 2 column 1"},
        {"rows 10 200 40 14\ncolumns 400\ncalibration\nfill 1 1\n",
         "form: row 1 is the printed calibration row"},
        {"rows 10 200 40 14\ncolumns 60\n", "form: mark column at 60 overlaps the timing track"},
        {"rows 40 200 40 14\ncolumns 400\n",
         "form: the grid must end 60 lines or more above the paper's bottom"},
        {"rows 10 200 40 14\ncolumns 400\nanswers 2 1 A?\n", "form line 3: bad answer letter ?"},
        {"rows 10 200 40 14\ncolumns 400\ntext 10 10 abc\n",
         "form line 3: labels take digits, A-Z, blank, - . : /"},
        {"place 900 40 60\nrows 10 200 40 14\ncolumns 400\n",
         "form: the paper must span pixels 764..963 and end inside the line"},
        {"rows 10 200 40 14\ncolumns 400\nskew 4\n", "form line 3: skew out of range"},
        {"paper 1654 900\nrows 10 200 40 14\ncolumns 400\n",
         "form: the paper must reach past line 1010"},
        {"", "form: no rows"},
    };
    for (const Case& c : cases) {
        Form form;
        std::string error;
        EXPECT_FALSE(ParseForm(c.text, &form, &error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(AnswerSheet, AnswersLineMarksConsecutiveRows) {
    Form form;
    std::string error;
    ASSERT_TRUE(
        ParseForm("rows 10 200 40 14\ncolumns 300 350 400 450 500\n"
                  "answers 3 1 Ab.E\nsmudge 4 1\n",
                  &form, &error))
        << error;
    const std::vector<std::string> expected = {".....", ".....", "X....", ".h...", ".....",
                                               "....X", ".....", ".....", ".....", "....."};
    EXPECT_EQ(ExpectedRows(form), expected);
}

TEST(AnswerSheet, TooLongBarcodeIsRefused) {
    Form form;
    std::string error;
    ASSERT_TRUE(ParseForm("rows 10 200 40 14\ncolumns 400\nbarcode 800 40 3 60 ABCDEFGHIJKLMNOP\n",
                          &form, &error))
        << error;
    RenderedSheet sheet;
    EXPECT_FALSE(RenderAnswerSheet(form, &sheet, &error));
    EXPECT_NE(error.find("the reader takes at most 476"), std::string::npos) << error;
}

TEST(AnswerSheet, DemoFilesAndOptions) {
    const auto dir = std::filesystem::path(::testing::TempDir()) /
                     ("answer_sheet_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    AnswerSheetOptions options;
    std::string error;
    const std::vector<std::string> write = {"--write-demo-files", dir.string()};
    ASSERT_EQ(options.TakeOption(write, &error), 2) << error;
    for (const char* name : {"c5502.par", "red.tbl", "blue.tbl", "posi.asc", "stop.asc", "form.txt",
                             "sheet.raw", "expected.txt"}) {
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    }
    EXPECT_EQ(std::filesystem::file_size(dir / "red.tbl"), 32u + 2 * 1728);
    const std::vector<std::uint8_t> page = options.Page();
    EXPECT_EQ(std::filesystem::file_size(dir / "sheet.raw"), page.size());

    // A form given after the demo directory rewrites the files for that form.
    const auto form_path = dir / "small.txt";
    std::ofstream(form_path) << "rows 5 200 40 14\ncolumns 400 500\nfill 2 2\n";
    const std::vector<std::string> form_option = {"--form", form_path.string()};
    ASSERT_EQ(options.TakeOption(form_option, &error), 2) << error;
    std::ifstream expected(dir / "expected.txt");
    std::stringstream text;
    text << expected.rdbuf();
    EXPECT_EQ(text.str(), "01: ..\n02: .X\n03: ..\n04: ..\n05: ..\n");
    EXPECT_NE(options.Page().size(), page.size());

    const std::vector<std::string> other = {"--sheet", "x"};
    EXPECT_EQ(options.TakeOption(other, &error), 0);
    const std::vector<std::string> missing = {"--form"};
    EXPECT_EQ(options.TakeOption(missing, &error), -1);
    EXPECT_EQ(error, "--form needs a value");
    const std::vector<std::string> absent = {"--form", (dir / "none.txt").string()};
    EXPECT_EQ(options.TakeOption(absent, &error), -1);
    std::ofstream(dir / "bad.txt") << "rows 5 200 40 14\ncolumns 400\nfill 9 1\n";
    const std::vector<std::string> bad = {"--form", (dir / "bad.txt").string()};
    EXPECT_EQ(options.TakeOption(bad, &error), -1);
    EXPECT_EQ(error, (dir / "bad.txt").string() + ": form: mark in row 9, the grid has 5");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zerik::sim
