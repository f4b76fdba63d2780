#include "recognition/mark_cut.h"

#include <gtest/gtest.h>

#include <sstream>

#include "recognition/map_file.h"
#include "recognition/result_line.h"
#include "recognition/testkit/test_sheet.h"

namespace recognition {
namespace {

constexpr int kPaper = 4;

// Column darkness lines built by hand: blank paper, timing marks, marks, an end line.
struct Table {
    int n;
    std::vector<ColumnValueRow> lines;

    Table(int columns, int count, int paper = kPaper) : n(columns) {
        ColumnValueRow blank{};
        for (int c = 0; c < columns; ++c)
            blank[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(paper);
        lines.assign(static_cast<std::size_t>(count), blank);
    }
    void fill(int column, int from, int to, int value) {
        for (int y = from; y < to; ++y) {
            lines.at(static_cast<std::size_t>(y))[static_cast<std::size_t>(column)] =
                static_cast<std::uint8_t>(value);
        }
    }
    void end_at(int line) { fill(0, line, line + 1, kEndOfMarks); }
};

// Rows of 14 dark lines every 40 lines from line 40; columns marked per row as asked.
Table grid(int columns, int rows, int end_line = -1) {
    Table t(columns, 80 + rows * 40);
    for (int r = 1; r <= rows; ++r) t.fill(0, 40 * r, 40 * r + 14, 63);
    t.end_at(end_line < 0 ? 40 + rows * 40 : end_line);
    return t;
}
int row_start(int row) {
    return 40 * row;
}

// Feeds the lines one at a time as the ring tools do, then enough end lines for the cut to
// reach the end.
std::string run_ring(MarkCut& cut, const Table& t) {
    std::ostringstream out;
    std::vector<ColumnValueRow> lines = t.lines;
    ColumnValueRow end;
    end.fill(kEndOfMarks);
    lines.insert(lines.end(), 30, end);
    for (std::size_t y = 0; y < lines.size(); ++y) {
        cut.store_line(static_cast<int>(y), lines[y]);
        if (cut.state().err == 0) cut.run(static_cast<int>(y) + 1, out);
    }
    return out.str();
}

std::string run_mapgen(MarkCut& cut, const Table& t) {
    std::vector<std::uint8_t> bytes;
    for (const auto& line : t.lines) bytes.insert(bytes.end(), line.begin(), line.end());
    cut.load_table(bytes);
    cut.start_pass();
    std::ostringstream out;
    for (int fch = 0; fch <= 98 && !cut.ended(); ++fch) cut.run_pass(fch, 1, out);
    return out.str();
}

// Row lines: a row number, ": ", the codes.
int rows_listed(const std::string& text) {
    int rows = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(": ");
        if (colon >= 2 && colon != std::string::npos &&
            line.find_first_not_of("0123456789") == colon) {
            ++rows;
        }
    }
    return rows;
}

int count_of(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TEST(MarkCut, ListsRowsAndEndLine) {
    Table t = grid(3, 3);
    t.fill(1, row_start(1), row_start(1) + 14, 63);
    t.fill(2, row_start(3), row_start(3) + 14, 63);
    MarkCut cut(CutVariant::sheetsim, 3);
    const std::string out = run_ring(cut, t);
    EXPECT_EQ(out, "01: 0f    \n02:       \n03:    0f \n* err: 0 shift: 64 fch: 183\n");
    EXPECT_EQ(cut.state().err, 99);
    EXPECT_EQ(cut.state().res[0], 3) << "row number of the last row event";
    EXPECT_EQ(cut.state().res[2], 0x0F);
}

TEST(MarkCut, LineZeroIsNeverExamined) {
    Table t(2, 60);
    t.end_at(0);
    MarkCut cut(CutVariant::sheetsim, 2);
    for (int y = 0; y < 60; ++y) cut.store_line(y, t.lines[static_cast<std::size_t>(y)]);
    std::ostringstream out;
    EXPECT_EQ(cut.run(25, out), CutProgress::waiting);
    EXPECT_EQ(cut.state().cur, 2) << "lines 1 and 2 examined, line 0 skipped";
    cut.set_darkness(3, 0, kEndOfMarks);
    EXPECT_EQ(cut.run(27, out), CutProgress::ended);
    EXPECT_EQ(out.str(), "* err: 0 shift: 64 fch: 27\n");
}

TEST(MarkCut, DarkLeadInIsPassedOver) {
    for (const int lead : {38, 37}) {
        Table t = grid(2, 3);
        t.fill(0, 0, 30, lead);  // timing column reads this dark until line 30
        t.fill(0, 31, 35, 50);   // a dark run inside the lead-in is no timing mark
        t.fill(0, 30, 31, lead);
        MarkCut cut(CutVariant::sheetsim, 2);
        const std::string out = run_ring(cut, t);
        EXPECT_EQ(rows_listed(out), 3) << "three rows whatever the lead-in, lead " << lead;
        EXPECT_EQ(out.substr(0, 4), "01: ");
    }
    // A timing column that never reads lighter than 38 produces nothing.
    Table dark = grid(2, 3);
    dark.fill(0, 0, 40 + 3 * 40, 38);
    for (int r = 1; r <= 3; ++r) dark.fill(0, row_start(r), row_start(r) + 14, 63);
    MarkCut cut(CutVariant::sheetsim, 2);
    EXPECT_EQ(run_ring(cut, dark), "* err: 0 shift: 64 fch: 183\n");
}

TEST(MarkCut, SevenDarkLinesMakeATimingMarkSixDoNot) {
    struct Case {
        int dark_lines;
        int rows;
    };
    for (const Case c : {Case{7, 2}, Case{6, 0}}) {
        Table t(2, 200);
        t.fill(0, 40, 40 + c.dark_lines, 63);
        t.fill(0, 80, 80 + c.dark_lines, 63);
        t.end_at(150);
        MarkCut cut(CutVariant::sheetsim, 2);
        EXPECT_EQ(rows_listed(run_ring(cut, t)), c.rows) << c.dark_lines << " dark lines";
    }
}

TEST(MarkCut, ThresholdAfterRowOneStaysWithin36And45) {
    struct Case {
        int paper;
        int timing;
        int thr;
    };
    const Case cases[] = {{4, 63, 36}, {20, 63, 41}, {30, 63, 45}, {34, 63, 45}, {4, 41, 36}};
    for (const Case& c : cases) {
        Table t(2, 200, c.paper);
        t.fill(0, 40, 54, c.timing);
        t.end_at(150);
        MarkCut cut(CutVariant::sheetsim, 2);
        run_ring(cut, t);
        EXPECT_EQ(cut.state().thr, c.thr) << "paper " << c.paper << " timing " << c.timing;
    }
}

struct GradeCase {
    int peak;
    int soft_flank;  // lines of ramp on each side of the mark
    int code_low;    // darkness grade in bits 0..3 (0 = no mark)
    bool edge_bits;  // edge grade in bits 4..6 expected non-zero
    int bg_after;
};

TEST(MarkCut, GradesEdgeBitsAndBackground) {
    const GradeCase cases[] = {
        {10, 0, 0, false, 7},   // grade 1: no mark, background moves toward the window median
        {13, 0, 0, false, 4},   // grade 2: no mark and the background stays
        {15, 0, 3, false, 4},   // grade 3: code 3 without an edge grade
        {29, 0, 7, false, 4},   // grade 7, sharp edges
        {55, 0, 15, false, 4},  // grade 15, sharp edges
        {55, 6, 15, true, 4},   // soft flanks give an edge grade
    };
    for (const GradeCase& g : cases) {
        Table t = grid(2, 3);
        const int top = row_start(2) - g.soft_flank;
        for (int k = 0; k < g.soft_flank; ++k) {
            const int v = kPaper + (g.peak - kPaper) * (k + 1) / (g.soft_flank + 1);
            t.fill(1, top + k, top + k + 1, v);
            t.fill(1, row_start(2) + 14 + g.soft_flank - 1 - k,
                   row_start(2) + 14 + g.soft_flank - k, v);
        }
        t.fill(1, row_start(2), row_start(2) + 14, g.peak);
        MarkCut cut(CutVariant::sheetsim, 2);
        std::ostringstream out;
        Table upto = t;
        upto.lines.resize(static_cast<std::size_t>(row_start(3)));  // row 2 evaluated, row 3 not
        const std::string text = run_ring(cut, upto);
        ASSERT_NE(text.find("02: "), std::string::npos) << text;
        const int code = cut.state().res[1];
        EXPECT_EQ(code & 0x0F, g.code_low) << "peak " << g.peak;
        EXPECT_EQ((code & 0x70) != 0, g.edge_bits) << "peak " << g.peak << " code " << code;
        EXPECT_EQ(cut.state().bg[1], g.bg_after) << "peak " << g.peak;
    }
}

TEST(MarkCut, NegativeShiftIsReportedPlus128) {
    Table t = grid(3, 3);
    for (int r = 1; r <= 3; ++r) {
        t.fill(1, row_start(r), row_start(r) + 14, 63);
        t.fill(2, row_start(r), row_start(r) + 14, 50);
    }
    // Row 2's last column peaks 3 lines above the timing mark's centre line (start + 6).
    t.fill(2, row_start(2) + 3, row_start(2) + 4, 55);
    t.lines.resize(static_cast<std::size_t>(row_start(3)));
    MarkCut cut(CutVariant::marksim, 3);
    const std::string out = run_ring(cut, t);
    EXPECT_EQ(cut.state().shift, 125) << out;
    EXPECT_EQ(count_of(out, "=================\n"), 2) << "one separator per fully marked row";
}

TEST(MarkCut, MergedTimingMarksAreSplit) {
    testkit::SheetLayout layout;
    layout.rows = 8;
    layout.column_x = {200, 300};
    testkit::TestSheet sheet(layout);
    sheet.join_timing_marks(5);
    sheet.add_mark(5, 1);
    sheet.add_mark(6, 2);
    sheet.add_mark(8, 1);
    Table t(3, 0);
    t.lines = sheet.column_values();
    MarkCut cut(CutVariant::sheetsim, 3);
    const std::string out = run_ring(cut, t);
    EXPECT_NE(out.find("05: 0f    \n06:    0f \n07:       \n08: 0f    \n"), std::string::npos)
        << out;
    EXPECT_EQ(rows_listed(out), 8) << out;
}

TEST(MarkCut, LongRunThatCannotBeSplitIsOneLongMark) {
    // A short blip moves the centre without making a row; the long run after it starts
    // so early that its first part would again be longer than a pitch. It is evaluated once
    // as a long mark, and the cut goes on to the end.
    for (const CutVariant variant : {CutVariant::sheetsim, CutVariant::mapgen}) {
        Table t(2, 440);
        for (int r = 1; r <= 4; ++r) t.fill(0, row_start(r), row_start(r) + 14, 63);
        t.fill(0, row_start(4) + 30, row_start(4) + 33, 63);
        t.fill(0, row_start(4) + 35, row_start(4) + 150, 63);
        t.end_at(400);
        MarkCut cut(variant, 2);
        const std::string out =
            variant == CutVariant::mapgen ? run_mapgen(cut, t) : run_ring(cut, t);
        EXPECT_EQ(rows_listed(out), 5) << out;
        EXPECT_TRUE(cut.ended());
    }
}

TEST(MarkCut, SkewedSheetIsCalibratedPerColumn) {
    testkit::SheetLayout layout;
    layout.rows = 6;
    layout.skew = 12;  // the last column sits 8 lines lower than the timing track
    testkit::TestSheet sheet(layout);
    for (int c = 1; c <= 6; ++c) sheet.add_mark(1, c);
    sheet.add_mark(3, 6, 40);
    sheet.add_mark(4, 1, 63);
    Table t(7, 0);
    t.lines = sheet.column_values();
    MarkCut cut(CutVariant::sheetsim, 7);
    const std::string out = run_ring(cut, t);
    EXPECT_NE(out.find("01: 0f 0f 0f 0f 0f 0f \n02:                   \n03:                "
                       "0a \n04: 0f                \n"),
              std::string::npos)
        << out;
    // The carried-over centroid follows the skew from column to column (8 lines at column 6,
    // a flat mark pulls it a little less).
    for (int c = 2; c <= 6; ++c) EXPECT_GE(cut.state().offs[c], cut.state().offs[c - 1]);
    EXPECT_GE(cut.state().offs[6], 6);
    EXPECT_LE(cut.state().offs[6], 8);
}

TEST(MarkCut, MarksimWaitsForLightColumnsBeforeCalibrating) {
    Table t = grid(3, 3);
    t.fill(2, 0, 100, 25);  // column 2 is grey until line 100: rows 1 and 2 pass unseen
    MarkCut cut(CutVariant::marksim, 3);
    const std::string out = run_ring(cut, t);
    EXPECT_EQ(out.substr(0, 4), "01: ") << out;
    EXPECT_EQ(rows_listed(out), 1) << out;

    MarkCut sheet_cut(CutVariant::sheetsim, 3);
    EXPECT_EQ(rows_listed(run_ring(sheet_cut, t)), 3) << "the sheet simulator has no guard";
}

TEST(MarkCut, ColumnAtFullBackgroundGradesZero) {
    Table t = grid(2, 3);
    t.fill(1, 0, static_cast<int>(t.lines.size()), 60);  // never lighter than full
    MarkCut cut(CutVariant::sheetsim, 2);
    const std::string out = run_ring(cut, t);
    EXPECT_EQ(rows_listed(out), 3);
    EXPECT_EQ(cut.state().res[1], 0);
}

TEST(MapgenCut, FindsItsColumnCountFromDarkColumns) {
    // Columns from 8 on lie off the paper and read dark: the row step ends the range there.
    Table t = grid(41, 3);
    for (int c = 8; c < 41; ++c) t.fill(c, 0, static_cast<int>(t.lines.size()), 60);
    t.fill(7, row_start(2), row_start(2) + 14, 63);
    MarkCut cut(CutVariant::mapgen, 41);
    const std::string out = run_mapgen(cut, t);
    EXPECT_EQ(cut.state().n, 8);
    EXPECT_NE(out.find("02:                   0f \n03: "), std::string::npos) << out;

    // With 20 real columns all marked on the first timing mark, calibration finds the count.
    Table wide = grid(41, 3);
    for (int c = 20; c < 41; ++c) wide.fill(c, 0, static_cast<int>(wide.lines.size()), 60);
    for (int c = 1; c < 20; ++c) wide.fill(c, row_start(1), row_start(1) + 14, 63);
    MarkCut wide_cut(CutVariant::mapgen, 41);
    const std::string wide_out = run_mapgen(wide_cut, wide);
    EXPECT_EQ(wide_cut.state().n, 20);
    EXPECT_EQ(wide_out.substr(0, 14), "=============\n") << wide_out;
}

TEST(MapgenCut, WritesRowAndEndRecordsKeepsMapAndRowCentres) {
    Table t = grid(41, 4);
    for (int c = 6; c < 41; ++c) t.fill(c, 0, static_cast<int>(t.lines.size()), 60);
    t.fill(1, row_start(2), row_start(2) + 14, 63);
    t.fill(2, row_start(2), row_start(2) + 14, 15);  // grade 3: a mark but not a map cell
    MarkCut cut(CutVariant::mapgen, 41);
    const std::string out = run_mapgen(cut, t);
    // Row 2 has every listed column marked: shift from its peak, without the 128 wrap.
    EXPECT_NE(out.find("02: 0f 03 \n=============\n"), std::string::npos) << out;
    EXPECT_NE(out.find("* err: 0 shift: -6 fch: 6 c63: 1\n"), std::string::npos) << out;

    const MapFile map = parse_map_file(cut.map_bytes());
    EXPECT_TRUE(map.well_formed);
    ASSERT_EQ(map.rows.size(), 4u);
    EXPECT_EQ(map.rows[1], (std::vector<std::uint8_t>{0, 0x0F})) << "last = 2: columns 0..1";
    ASSERT_TRUE(map.end);
    EXPECT_EQ(*map.end, (std::array<std::uint8_t, 4>{0, 0xFA, 6, 1}));
    EXPECT_EQ(cut.mark_map()[2][1], 1);
    EXPECT_EQ(cut.mark_map()[2][2], 0);
    EXPECT_EQ(cut.row_centre(2), row_start(2) + 6);
    EXPECT_EQ(cut.state().err, 0) << "the map generator leaves err at 0";
}

TEST(MapgenCut, RowNumberStopsAt159AndTableEndEndsThePass) {
    Table t(3, 3000);
    for (int r = 0; r < 170; ++r) t.fill(0, 20 + 16 * r, 28 + 16 * r, 63);
    MarkCut cut(CutVariant::mapgen, 41);
    const std::string out = run_mapgen(cut, t);
    EXPECT_EQ(cut.state().row, 159);
    EXPECT_EQ(parse_map_file(cut.map_bytes()).rows.size(), 170u);
    EXPECT_NE(out.find("159: "), std::string::npos);
    EXPECT_EQ(count_of(out, "* err: 0 shift: 64 fch: "), 1) << "ended at line 3000";
    EXPECT_EQ(cut.state().cur, 3000);
}

TEST(MapgenCut, ColumnSamplesAreSignedBytesAndZeroOutsideTheTable) {
    Table t = grid(41, 3);
    t.fill(3, 1, 2, 200);
    MarkCut cut(CutVariant::mapgen, 41);
    run_mapgen(cut, t);
    EXPECT_EQ(cut.column_samples(3, -2, 2), (std::vector<std::int32_t>{0, 0, kPaper, -56, kPaper}));
    EXPECT_EQ(cut.column_samples(3, 2999, 3000), (std::vector<std::int32_t>{0, 0}));
}

}  // namespace
}  // namespace recognition
