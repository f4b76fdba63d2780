// The mark cut: follows the timing column down a sheet and grades every mark column of each
// row. One implementation serves the sheet simulator, the cut replay and the map generator;
// their differences are selected by the variant.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <span>
#include <vector>

#include "recognition/parameter_file.h"

namespace recognition {

enum class CutVariant {
    sheetsim,  // 64-line ring, column count from the parameter file
    marksim,   // 64-line ring, column count per line, calibration waits for light columns
    mapgen,    // whole 3000-line table, finds its column count, keeps a mark map
};

inline constexpr int kRingLines = 64;
inline constexpr int kTableLines = 3000;
inline constexpr int kMapRows = 160;
inline constexpr int kFullDarkness = 55;
// sheetsim reuses the result array as its text store: event flag and 47 characters.
inline constexpr int kResultEntries = 48;

// The cut's working values; names follow the procedure. In the mapgen variant bg, offs, res
// and peakoff hold signed 8-bit values.
struct CutState {
    int n = 0;
    int thr = 40;
    int full = kFullDarkness;
    std::array<int, kMaxColumns> bg{};
    std::array<int, kMaxColumns> offs{};
    int cur = 0;
    int started = 0;
    int inmark = 0;
    int markstart = 0;
    int row = 0;
    int centre = 0;
    int prevcentre = 0;
    int halfwin = 0;
    int pitch = 0;
    int pitchlim = 0;
    int peak = 0;
    int peakline = 0;
    int thr2 = 0;
    int level = 0;
    std::array<int, kResultEntries> res{};
    std::array<int, kMaxColumns> peakoff{};
    int err = 0;
    int shift = 64;
};

enum class CutProgress { waiting, ended };

using MarkMap = std::array<std::array<std::uint8_t, kMaxColumns>, kMapRows>;

class MarkCut {
  public:
    // column_count is n for sheetsim (from the parameter file), the starting n for marksim;
    // mapgen always starts at 41. Counts are held within 0..41.
    MarkCut(CutVariant variant, int column_count);

    CutVariant variant() const { return variant_; }

    // Column table. The ring variants keep line y in slot y mod 64 (also for y < 0); the
    // mapgen table reads 0 (white) for lines outside 0..2999 and ignores writes there.
    void store_line(int line, std::span<const std::uint8_t> darkness);
    void set_darkness(int line, int column, std::uint8_t value);
    std::uint8_t darkness(int line, int column) const;
    // mapgen: fills the table from the bytes of "1.41" (zero where the file has none).
    void load_table(std::span<const std::uint8_t> column_value_file);

    // marksim: the column count of the line just stored (held within 0..41).
    void set_column_count(int n);

    // sheetsim, marksim: examines lines while cur <= avail - 24.
    CutProgress run(int avail, std::ostream& out);

    // mapgen: begins a pass (everything but thr back to its start value, mark map cleared,
    // map bytes emptied), then run_pass with fch = 0, 1, 2, ... examines lines while
    // cur <= (fch - 2) * 2048 / 41. The row records and the end record go to map_bytes().
    void start_pass();
    CutProgress run_pass(int fch, int pass, std::ostream& out);

    bool ended() const { return ended_; }
    CutState& state() { return s_; }
    const CutState& state() const { return s_; }

    // mapgen results for the barcode search.
    MarkMap& mark_map() { return mark_map_; }
    const MarkMap& mark_map() const { return mark_map_; }
    int row_centre(int row) const;
    const std::vector<std::uint8_t>& map_bytes() const { return map_bytes_; }
    // Darkness of a column over lines first..last as signed 8-bit samples.
    std::vector<std::int32_t> column_samples(int column, int first_line, int last_line) const;

  private:
    enum class Step { next_line, leave };

    CutProgress examine(int limit, int avail_or_fch, int pass, std::ostream& out);
    void finish(int avail_or_fch, int pass, std::ostream& out);
    // A timing mark opens on the line whose level rises above thr; true on the line that
    // closes it, the first one below thr again.
    bool timing_mark_closed();
    Step calibrate(std::ostream& out);
    void row_step(std::ostream& out);
    bool split_merged_marks();
    void grade_column(int c);
    int grade(int c);
    void spread_check(int c, int y0);
    int edge_width(int c, int pct);
    void update_background(int c, int y0);
    // Prints the row number and the grades of columns 1..last, blank where unmarked; true
    // when there is at least one column and every one is marked.
    bool print_grades(int last, std::ostream& out) const;
    void report_row(std::ostream& out);
    void report_mapgen_row(std::ostream& out);
    int fit(int value) const;
    // Table index of the line's column 0; -1 for a line outside the mapgen table.
    int line_start(int line) const;
    int at(int line, int column) const { return darkness(line, column); }

    CutVariant variant_;
    CutState s_;
    bool ended_ = false;
    std::vector<std::uint8_t> table_;
    MarkMap mark_map_{};
    std::array<int, kMapRows> row_centres_{};
    std::vector<std::uint8_t> map_bytes_;
};

}  // namespace recognition
