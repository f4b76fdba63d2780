// Synthetic answer sheets: a timing track, a grid of mark columns, marks of chosen darkness,
// skew, merged timing marks and barcodes, rendered as raw page lines with the matching
// "c5502.par" and "red.tbl", or directly as column darkness rows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "recognition/parameter_file.h"
#include "recognition/raw_page.h"
#include "recognition/result_line.h"

namespace recognition::testkit {

struct SheetLayout {
    int lead_lines = 30;  // lines before the paper (the dark backing); at least 10
    int top_margin = 60;  // paper lines before the first timing mark
    int rows = 10;
    int row_pitch = 36;   // lines from one timing mark to the next
    int mark_lines = 14;  // height of timing marks and marks
    int edge_lines = 0;   // lines of soft flank at each end of a mark
    int timing_x = 60;    // pixel position of column 0
    std::vector<int> column_x = {200, 300, 400, 500, 600, 700};  // columns 1, 2, ...
    int mark_width = 20;        // pixels across a mark or a timing mark
    double skew = 0;            // lines a mark moves down per 1000 pixels to the right
    int bottom_margin = 60;     // paper lines after the last timing mark
    int trail_lines = 20;       // backing lines after the paper
    std::uint8_t paper = 245;   // pixel value of blank paper (darkness 6)
    std::uint8_t backing = 10;  // pixel value where there is no paper
    int noise = 0;              // uniform pixel noise of +-noise on the paper, seeded
    std::uint32_t seed = 1;
};

// Pixel value whose three-pixel column darkness is the given darkness (0..63).
std::uint8_t pixel_for_darkness(int darkness);
// Column darkness of a shaded line at a position, as the line preparation computes it.
int column_darkness(const RawLine& line, int position);

class TestSheet {
  public:
    explicit TestSheet(SheetLayout layout);

    const SheetLayout& layout() const { return layout_; }
    int column_count() const { return static_cast<int>(layout_.column_x.size()) + 1; }
    int line_count() const;
    int paper_start() const { return layout_.lead_lines; }
    // First line of the timing mark of row r (rows count from 1).
    int row_line(int row) const;
    // Centre line of a full mark of row r in column c, skew included.
    int mark_centre(int row, int column) const;

    // A mark in row r (from 1), mark column c (from 1), darkness 0..63.
    void add_mark(int row, int column, int darkness = 63);
    // Timing marks of rows r and r+1 run together into one dark run.
    void join_timing_marks(int row);
    // A barcode lying across the sheet: bars run down over `height` lines from `line`;
    // `sampled` makes it the barcode area of the parameter file (barT 1, barL = length, the
    // run centred on the barcode, sampled on the middle line of its height).
    void add_horizontal_barcode(int line, int x, std::span<const int> modules,
                                double pixels_per_module, int height, int length,
                                bool sampled = true);
    // A barcode printed down the sheet: bars run across `width` pixels centred on x, from
    // `line` downward; `sampled` makes it the barcode area (barT 2, barX = x, barL = length,
    // the run centred on the barcode).
    void add_vertical_barcode(int line, int x, std::span<const int> modules,
                              double lines_per_module, int width, int length, bool sampled = true);

    // Raw lines with a line header (line number in bytes 0..1, parity in byte 6).
    std::vector<RawLine> raw_lines() const;
    std::vector<std::uint8_t> raw_page_file() const;
    ParameterFile parameters() const;
    ShadingTable shading() const;  // identity: offset 0, gain 16 everywhere
    // Column darkness rows of every line (columns 0..n-1, the rest 0); with an end row of
    // 64 appended when asked.
    std::vector<ColumnValueRow> column_values(bool end_row = true) const;
    // Short result page: one record per line with the column values, the end row, then a
    // bar-sample line when samples are given.
    std::vector<std::uint8_t> short_result_page(
        const std::optional<std::vector<std::uint8_t>>& bar_samples = std::nullopt) const;

  private:
    struct Mark {
        int row;
        int column;
        int darkness;
    };
    struct Barcode {
        bool vertical;
        int line;
        int x;
        std::vector<int> modules;
        double scale;
        int extent;
    };

    void render_line(int y, RawLine& line) const;
    int skew_lines(int x) const;

    SheetLayout layout_;
    std::vector<Mark> marks_;
    std::vector<int> joined_rows_;
    std::vector<Barcode> barcodes_;
    BarSampling bar_;
};

}  // namespace recognition::testkit
