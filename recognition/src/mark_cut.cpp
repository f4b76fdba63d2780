#include "recognition/mark_cut.h"

#include <algorithm>
#include <cstdlib>

#include "print.h"
#include "recognition/map_file.h"

namespace recognition {
namespace {

constexpr int kEndDarkness = 63;
constexpr int kRowLimit = kMapRows - 1;
// A line is examined only when this many newer lines are stored.
constexpr int kRingLag = 24;
constexpr int kCalibrationHalfWindow = 6;
constexpr int kFirstColumnsChecked = 15;
constexpr int kMarksimLightBackground = 20;
constexpr int kMapgenColumnHeadroom = 10;

int ring_slot(int line) {
    return ((line % kRingLines) + kRingLines) % kRingLines;
}

}  // namespace

MarkCut::MarkCut(CutVariant variant, int column_count) : variant_(variant) {
    const int lines = variant_ == CutVariant::mapgen ? kTableLines : kRingLines;
    table_.assign(static_cast<std::size_t>(lines) * kMaxColumns, 0);
    s_.bg.fill(kFullDarkness);
    set_column_count(variant_ == CutVariant::mapgen ? kMaxColumns : column_count);
}

int MarkCut::fit(int value) const {
    return variant_ == CutVariant::mapgen ? static_cast<std::int8_t>(value) : value;
}

void MarkCut::set_column_count(int n) {
    s_.n = std::clamp(n, 0, kMaxColumns);
}

int MarkCut::line_start(int line) const {
    if (variant_ != CutVariant::mapgen) return ring_slot(line) * kMaxColumns;
    return line >= 0 && line < kTableLines ? line * kMaxColumns : -1;
}

std::uint8_t MarkCut::darkness(int line, int column) const {
    if (column < 0 || column >= kMaxColumns) return 0;
    const int start = line_start(line);
    return start < 0 ? 0 : table_[static_cast<std::size_t>(start + column)];
}

void MarkCut::set_darkness(int line, int column, std::uint8_t value) {
    if (column < 0 || column >= kMaxColumns) return;
    const int start = line_start(line);
    if (start >= 0) table_[static_cast<std::size_t>(start + column)] = value;
}

void MarkCut::store_line(int line, std::span<const std::uint8_t> darkness) {
    const int start = line_start(line);
    if (start < 0) return;
    std::copy_n(darkness.begin(), std::min<std::size_t>(darkness.size(), kMaxColumns),
                table_.begin() + start);
}

void MarkCut::load_table(std::span<const std::uint8_t> column_value_file) {
    std::fill(table_.begin(), table_.end(), 0);
    std::copy_n(column_value_file.begin(), std::min(column_value_file.size(), table_.size()),
                table_.begin());
}

int MarkCut::row_centre(int row) const {
    return row >= 0 && row < kMapRows ? row_centres_[static_cast<std::size_t>(row)] : 0;
}

std::vector<std::int32_t> MarkCut::column_samples(int column, int first_line, int last_line) const {
    std::vector<std::int32_t> samples;
    for (int y = first_line; y <= last_line; ++y) {
        samples.push_back(static_cast<std::int8_t>(darkness(y, column)));
    }
    return samples;
}

void MarkCut::start_pass() {
    const int thr = s_.thr;
    s_ = CutState{};
    s_.thr = thr;
    s_.bg.fill(kFullDarkness);
    s_.n = kMaxColumns;
    ended_ = false;
    mark_map_ = {};
    row_centres_ = {};
    map_bytes_.clear();
}

CutProgress MarkCut::run(int avail, std::ostream& out) {
    return examine(avail - kRingLag, avail, 0, out);
}

CutProgress MarkCut::run_pass(int fch, int pass, std::ostream& out) {
    return examine((fch - 2) * 2048 / 41, fch, pass, out);
}

CutProgress MarkCut::examine(int limit, int avail_or_fch, int pass, std::ostream& out) {
    while (!ended_) {
        if (s_.cur > limit) return CutProgress::waiting;
        s_.cur += 1;
        if (variant_ == CutVariant::mapgen && s_.cur >= kTableLines) {
            finish(avail_or_fch, pass, out);
            break;
        }
        s_.level = at(s_.cur, 0);
        if (s_.level > kEndDarkness) {
            finish(avail_or_fch, pass, out);
            break;
        }
        if (s_.started == 0 && s_.level + 2 >= s_.thr) continue;
        s_.started = 255;
        if (s_.row == 0) {
            if (calibrate(out) == Step::leave) return CutProgress::waiting;
        } else {
            row_step(out);
        }
    }
    return CutProgress::ended;
}

void MarkCut::finish(int avail_or_fch, int pass, std::ostream& out) {
    ended_ = true;
    if (variant_ == CutVariant::mapgen) {
        append_map_end(map_bytes_, s_.err, s_.shift, avail_or_fch, pass);
        print_to(out, "* err: %d shift: %d fch: %d c63: %d\n", s_.err, s_.shift, avail_or_fch,
                 pass);
        return;
    }
    print_to(out, "* err: %d shift: %d fch: %d\n", s_.err, s_.shift, avail_or_fch);
    s_.err = 99;
}

bool MarkCut::timing_mark_closed() {
    if (s_.level > s_.thr && s_.inmark == 0) {
        s_.inmark = 1;
        s_.markstart = s_.cur - 1;
    }
    return s_.inmark == 1 && s_.level < s_.thr;
}

MarkCut::Step MarkCut::calibrate(std::ostream& out) {
    for (int c = 0; c < s_.n; ++c) s_.bg[c] = fit(std::min(s_.bg[c], at(s_.cur, c)));
    if (variant_ == CutVariant::marksim) {
        const int darkest = s_.n > 0 ? *std::max_element(s_.bg.begin(), s_.bg.begin() + s_.n) : 0;
        if (darkest > kMarksimLightBackground) {
            s_.started = 0;
            return Step::next_line;
        }
    }
    if (!timing_mark_closed()) return Step::next_line;

    s_.centre = (s_.markstart + s_.cur) >> 1;
    const int base = s_.centre;
    s_.halfwin = kCalibrationHalfWindow;
    if (s_.cur - s_.markstart < 8) {
        s_.inmark = 0;
        return Step::next_line;
    }
    bool left_at_first_columns = false;
    for (int c = 1; c < s_.n; ++c) {
        int peak = 0;
        long long sum = 0;
        long long weighted = 0;
        for (int y = s_.centre - kCalibrationHalfWindow; y <= s_.centre + kCalibrationHalfWindow;
             ++y) {
            const int v = at(y, c);
            peak = std::max(peak, v);
            sum += v;
            weighted +=
                static_cast<long long>(v) * (variant_ == CutVariant::mapgen ? y : y - s_.centre);
        }
        if (sum < 1) sum = 1;
        if (variant_ == CutVariant::mapgen) {
            s_.centre = static_cast<int>((2 * weighted / sum + 1) >> 1);
        } else {
            s_.centre += static_cast<int>((2 * weighted / sum + 1) >> 1);
        }
        s_.offs[c] = fit(s_.centre - base);
        if (std::abs(at(s_.centre, c) - peak) > 3) s_.offs[c] = s_.offs[c - 1];

        const int t = peak * 3 / 4;
        const int lim = std::max(s_.centre - 30, 10);
        bool clear = true;
        for (int y = lim + 1; y <= s_.centre && clear; ++y) clear = at(y, c) >= t;
        if (clear) {
            s_.offs[c] = s_.offs[c - 1];
            if (c == kFirstColumnsChecked) {
                left_at_first_columns = true;
                break;
            }
            if (variant_ == CutVariant::mapgen && c > kFirstColumnsChecked &&
                at(s_.centre, c) >= s_.thr) {
                s_.n = c;
                break;
            }
        }
    }
    s_.row = 1;
    if (variant_ != CutVariant::mapgen) return Step::leave;
    if (!left_at_first_columns) print_to(out, "=============\n");
    row_step(out);
    return Step::next_line;
}

void MarkCut::row_step(std::ostream& out) {
    if (!timing_mark_closed()) return;

    s_.prevcentre = s_.centre;
    s_.centre = (s_.markstart + s_.cur) >> 1;
    const int len = s_.cur - s_.markstart;
    if (variant_ == CutVariant::mapgen) row_centres_[static_cast<std::size_t>(s_.row)] = s_.centre;
    if (len < 8) {
        s_.inmark = 0;
        return;
    }
    s_.halfwin = std::min(len >> 1, 30);

    if (len - 3 > s_.pitch && s_.row > 3 && split_merged_marks()) return;

    const int d = s_.centre - s_.prevcentre;
    if (s_.row == 2 || (s_.row == 3 && d < s_.pitch)) {
        s_.pitch = d;
        s_.pitchlim = len + 3;
    }
    if (s_.row > 3 && len > s_.pitchlim) s_.centre = s_.prevcentre + s_.pitch;
    if (s_.row == 1) {
        s_.thr = std::clamp(s_.bg[0] + (at(s_.centre, 0) - s_.bg[0]) / 2, 36, 45);
    }

    for (int c = 1; c < s_.n; ++c) {
        if (variant_ == CutVariant::mapgen && s_.full - s_.bg[c] < kMapgenColumnHeadroom) {
            s_.n = c;
            break;
        }
        grade_column(c);
    }

    if (variant_ == CutVariant::mapgen) {
        report_mapgen_row(out);
    } else {
        report_row(out);
    }
}

// Timing marks that ran together: resume one and a quarter pitches after the previous
// centre, with the timing column there painted in the background level so that the next
// line closes the first part of the run. Done only when that next line is certain to read
// light and closes a first part no longer than a pitch: a longer one would be split again
// at the same line for ever. Otherwise the run is taken as one long mark.
bool MarkCut::split_merged_marks() {
    const int restart = s_.prevcentre + s_.pitch * 5 / 4;
    const std::uint8_t background = static_cast<std::uint8_t>(s_.bg[0]);
    const int first_part = restart + 1 - s_.markstart;
    if (s_.pitch < 4 || first_part < 2 || first_part - 3 > s_.pitch || background >= s_.thr) {
        return false;
    }
    s_.centre = s_.prevcentre;
    s_.cur = restart;
    for (int y = s_.cur; y <= s_.cur + s_.pitch / 2 - 1; ++y) set_darkness(y, 0, background);
    return true;
}

void MarkCut::grade_column(int c) {
    const int y0 = s_.centre + s_.offs[c];
    s_.peak = 0;
    int cnt = 0;
    s_.thr2 = s_.bg[c] + (s_.full - s_.bg[c]) * 3 / 15;
    for (int y = y0 - s_.halfwin; y <= y0 + s_.halfwin; ++y) {
        const int v = at(y, c);
        if (v > s_.peak) {
            s_.peak = v;
            s_.peakline = y;
        }
        if (v > s_.thr2) ++cnt;
    }
    s_.level = grade(c);
    if (s_.level <= 1) update_background(c, y0);
    if (s_.level < 3) {
        s_.level = 0;
    } else if (3 * cnt < 2 * s_.halfwin) {
        spread_check(c, y0);
    }
    if (s_.level > 3) {
        int a = edge_width(c, 20);
        const int b = edge_width(c, 33);
        if (a == 0) a = 1;
        const int e = edge_width(c, 40 - b * 24 / a);
        s_.level |= std::min(e / 6, 7) << 4;
    }
    s_.res[c] = fit(s_.level);
    s_.peakoff[c] = fit(s_.peakline - s_.centre);
}

// A column whose background has reached full darkness has no room for a mark: grade 0.
int MarkCut::grade(int c) {
    const int room = s_.full - s_.bg[c];
    const int g = room > 0 ? std::clamp((s_.peak - s_.bg[c]) * 15 / room, 0, 15) : 0;
    if (variant_ == CutVariant::mapgen && s_.row < kMapRows) {
        mark_map_[static_cast<std::size_t>(s_.row)][static_cast<std::size_t>(c)] = g > 9 ? 1 : 0;
    }
    return g;
}

void MarkCut::update_background(int c, int y0) {
    std::array<int, 9> values{};
    for (int i = 0; i < 9; ++i) values[static_cast<std::size_t>(i)] = at(y0 - 4 + i, c);
    std::sort(values.begin(), values.end());
    const int m = values[4];
    s_.bg[c] = fit(std::abs(s_.bg[c] - m) <= 3 ? m : (s_.bg[c] + m) / 2);
}

void MarkCut::spread_check(int c, int y0) {
    for (const int direction : {-1, 1}) {
        const int from = y0 + direction * s_.halfwin;
        if (at(from, c) < s_.thr2) continue;
        for (int k = 0; k <= s_.halfwin; ++k) {
            const int v = at(from + direction * k, c);
            s_.peak = std::max(s_.peak, v);
            if (v < s_.thr2) {
                s_.level = grade(c);
                return;
            }
        }
        s_.level = 0;
    }
}

int MarkCut::edge_width(int c, int pct) {
    for (;;) {
        const int h = s_.bg[c] + (s_.peak - s_.bg[c]) * 9 / 10;
        const int lim = s_.bg[c] + std::max((s_.peak - s_.bg[c]) * pct / 100, 3);
        int count = 0;
        bool raised = false;
        for (const int direction : {-1, 1}) {
            for (int k = 0; k < s_.full; ++k) {
                const int v = at(s_.peakline + direction * k, c);
                if (v < h) ++count;
                if (v > s_.peak) {
                    s_.peak = v;
                    raised = true;
                    break;
                }
                if (v < lim) break;
            }
            if (raised) break;
        }
        if (!raised) return count;
    }
}

bool MarkCut::print_grades(int last, std::ostream& out) const {
    print_to(out, "%02d: ", s_.row);
    bool all_marked = last >= 1;
    for (int c = 1; c <= last; ++c) {
        if (s_.res[c] == 0) {
            print_to(out, "   ");
            all_marked = false;
        } else {
            print_to(out, "%02x ", s_.res[c]);
        }
    }
    print_to(out, "\n");
    return all_marked;
}

void MarkCut::report_row(std::ostream& out) {
    const bool all_marked = print_grades(s_.n - 1, out);
    s_.res[0] = s_.row;
    if (all_marked) {
        s_.shift = s_.peakoff[s_.n - 1] - s_.offs[s_.n - 1];
        if (s_.shift < 0) s_.shift += 128;
        if (variant_ == CutVariant::marksim) print_to(out, "=================\n");
    }
    s_.row += 1;
    s_.inmark = 0;
}

void MarkCut::report_mapgen_row(std::ostream& out) {
    int last = s_.n - 1;
    while (last > 2 && s_.res[last] == 0) --last;
    const bool all_marked = print_grades(last, out);
    std::vector<std::uint8_t> record;
    for (int c = 0; c < last; ++c) record.push_back(static_cast<std::uint8_t>(s_.res[c]));
    append_map_row(map_bytes_, record);
    if (all_marked) {
        print_to(out, "=============\n");
        s_.shift = s_.peakoff[last] - s_.offs[last];
    }
    if (s_.row < kRowLimit) s_.row += 1;
    s_.inmark = 0;
}

}  // namespace recognition
