#include "recognition/testkit/test_sheet.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace recognition::testkit {
namespace {

// Share of a line or pixel [at, at + 1) covered by the bars of a barcode starting at origin.
double bar_cover(std::span<const int> modules, double origin, double scale, double at) {
    double cover = 0;
    double from = origin;
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const double to = from + modules[i] * scale;
        if (i % 2 == 0) {
            const double lo = std::max(from, at);
            const double hi = std::min(to, at + 1);
            if (hi > lo) cover += hi - lo;
        }
        from = to;
    }
    return std::min(cover, 1.0);
}

// Samples before the first bar when the barcode is centred in a run of `length` samples.
int quiet_before(std::span<const int> modules, double scale, int length) {
    int total = 0;
    for (int m : modules) total += m;
    return std::max(0, static_cast<int>(std::lround((length - total * scale) / 2)));
}

std::uint32_t mix(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

}  // namespace

std::uint8_t pixel_for_darkness(int darkness) {
    for (int p = 255; p >= 0; --p) {
        if (63 - ((3 * p * 10) >> 7) >= darkness) return static_cast<std::uint8_t>(p);
    }
    return 0;
}

int column_darkness(const RawLine& line, int position) {
    const auto p = static_cast<std::size_t>(position);
    return 63 - (((line[p - 1] + line[p] + line[p + 1]) * 10) >> 7);
}

TestSheet::TestSheet(SheetLayout layout) : layout_(std::move(layout)) {
    if (layout_.lead_lines < 10 || layout_.rows < 0 || layout_.column_x.size() > 40) {
        throw std::invalid_argument("sheet layout out of range");
    }
}

int TestSheet::line_count() const {
    const int paper = layout_.top_margin + std::max(layout_.rows - 1, 0) * layout_.row_pitch +
                      layout_.mark_lines + layout_.bottom_margin;
    return layout_.lead_lines + paper + layout_.trail_lines;
}

int TestSheet::row_line(int row) const {
    return layout_.lead_lines + layout_.top_margin + (row - 1) * layout_.row_pitch;
}

int TestSheet::skew_lines(int x) const {
    return static_cast<int>(std::lround(layout_.skew * (x - layout_.timing_x) / 1000.0));
}

int TestSheet::mark_centre(int row, int column) const {
    const int start = row_line(row) + skew_lines(layout_.column_x.at(column - 1));
    return (2 * start + layout_.mark_lines - 1) / 2;
}

void TestSheet::add_mark(int row, int column, int darkness) {
    if (column < 1 || column > static_cast<int>(layout_.column_x.size())) {
        throw std::invalid_argument("no such mark column");
    }
    marks_.push_back({row, column, darkness});
}

void TestSheet::join_timing_marks(int row) {
    joined_rows_.push_back(row);
}

void TestSheet::add_horizontal_barcode(int line, int x, std::span<const int> modules,
                                       double pixels_per_module, int height, int length,
                                       bool sampled) {
    barcodes_.push_back(
        {false, line, x, {modules.begin(), modules.end()}, pixels_per_module, height});
    if (sampled) {
        bar_ = {1, static_cast<std::int16_t>(x - quiet_before(modules, pixels_per_module, length)),
                static_cast<std::int16_t>(line + height / 2 - paper_start()),
                static_cast<std::int16_t>(length)};
    }
}

void TestSheet::add_vertical_barcode(int line, int x, std::span<const int> modules,
                                     double lines_per_module, int width, int length, bool sampled) {
    barcodes_.push_back({true, line, x, {modules.begin(), modules.end()}, lines_per_module, width});
    if (sampled) {
        bar_ = {2, static_cast<std::int16_t>(x),
                static_cast<std::int16_t>(line - quiet_before(modules, lines_per_module, length) -
                                          paper_start()),
                static_cast<std::int16_t>(length)};
    }
}

void TestSheet::render_line(int y, RawLine& line) const {
    line.fill(0);
    line[0] = static_cast<std::uint8_t>(y);
    line[1] = static_cast<std::uint8_t>(y >> 8);
    line[6] = static_cast<std::uint8_t>(y & 1);
    const int paper_end = line_count() - layout_.trail_lines;
    if (y < paper_start() || y >= paper_end) {
        std::fill(line.begin() + kFirstPixel, line.end(), layout_.backing);
        return;
    }
    for (std::size_t x = kFirstPixel; x < kRawLineBytes; ++x) {
        int p = layout_.paper;
        if (layout_.noise > 0) {
            const auto spread = static_cast<std::uint32_t>(2 * layout_.noise + 1);
            p += static_cast<int>(mix(layout_.seed, static_cast<std::uint32_t>(y),
                                      static_cast<std::uint32_t>(x)) %
                                  spread) -
                 layout_.noise;
        }
        line[x] = static_cast<std::uint8_t>(std::clamp(p, 0, 254));
    }

    auto band_share = [&](int from, int to) -> double {
        if (y < from || y >= to) return 0;
        const int k = std::min(y - from, to - 1 - y);
        return k < layout_.edge_lines ? (k + 1.0) / (layout_.edge_lines + 1.0) : 1.0;
    };
    auto paint = [&](int centre_x, int width, double share, std::uint8_t ink) {
        if (share <= 0) return;
        for (int x = centre_x - width / 2; x < centre_x - width / 2 + width; ++x) {
            if (x < static_cast<int>(kFirstPixel) || x >= static_cast<int>(kRawLineBytes)) continue;
            auto& pixel = line[static_cast<std::size_t>(x)];
            const double value = pixel - (pixel - ink) * share;
            pixel = static_cast<std::uint8_t>(std::lround(std::min<double>(pixel, value)));
        }
    };

    for (int r = 1; r <= layout_.rows; ++r) {
        const int start = row_line(r);
        const bool joined =
            std::find(joined_rows_.begin(), joined_rows_.end(), r) != joined_rows_.end();
        const int end = joined && r < layout_.rows ? row_line(r + 1) : start + layout_.mark_lines;
        paint(layout_.timing_x, layout_.mark_width, band_share(start, end), 0);
    }
    for (const Mark& m : marks_) {
        const int x = layout_.column_x[static_cast<std::size_t>(m.column - 1)];
        const int start = row_line(m.row) + skew_lines(x);
        paint(x, layout_.mark_width, band_share(start, start + layout_.mark_lines),
              pixel_for_darkness(m.darkness));
    }
    for (const Barcode& b : barcodes_) {
        if (b.vertical) {
            paint(b.x, b.extent, bar_cover(b.modules, b.line, b.scale, y), 0);
        } else if (y >= b.line && y < b.line + b.extent) {
            for (std::size_t x = kFirstPixel; x < kRawLineBytes; ++x) {
                const double share = bar_cover(b.modules, b.x, b.scale, static_cast<double>(x));
                line[x] = static_cast<std::uint8_t>(std::lround(line[x] * (1 - share)));
            }
        }
    }
}

std::vector<RawLine> TestSheet::raw_lines() const {
    std::vector<RawLine> lines(static_cast<std::size_t>(line_count()));
    for (std::size_t y = 0; y < lines.size(); ++y) render_line(static_cast<int>(y), lines[y]);
    return lines;
}

std::vector<std::uint8_t> TestSheet::raw_page_file() const {
    return join_raw_lines(raw_lines());
}

ParameterFile TestSheet::parameters() const {
    ParameterFile p;
    p.positions.push_back(static_cast<std::int16_t>(layout_.timing_x));
    for (int x : layout_.column_x) p.positions.push_back(static_cast<std::int16_t>(x));
    p.bar = bar_;
    return p;
}

ShadingTable TestSheet::shading() const {
    ShadingTable table;
    table.entries.fill(shading_entry(0, 16));
    return table;
}

std::vector<ColumnValueRow> TestSheet::column_values(bool end_row) const {
    const ParameterFile p = parameters();
    const ShadingTable table = shading();
    std::vector<ColumnValueRow> rows;
    RawLine line;
    for (int y = 0; y < line_count(); ++y) {
        render_line(y, line);
        apply_shading(table, line);
        ColumnValueRow row{};
        for (std::size_t c = 0; c < p.positions.size(); ++c) {
            row[c] = static_cast<std::uint8_t>(column_darkness(line, p.positions[c]));
        }
        rows.push_back(row);
    }
    if (end_row) {
        ColumnValueRow end;
        end.fill(kEndOfMarks);
        rows.push_back(end);
    }
    return rows;
}

std::vector<std::uint8_t> TestSheet::short_result_page(
    const std::optional<std::vector<std::uint8_t>>& bar_samples) const {
    std::vector<std::uint8_t> bytes;
    for (const ColumnValueRow& row : column_values(true)) {
        ShortResultLine line;
        line.column_count = static_cast<std::int8_t>(column_count());
        line.darkness = row;
        const auto record = encode_short_result_line(line);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    if (bar_samples) {
        ShortResultLine line;
        line.bar_sample_line = true;
        line.bar_samples = *bar_samples;
        line.column_count = static_cast<std::int8_t>(column_count());
        const auto record = encode_short_result_line(line);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

}  // namespace recognition::testkit
