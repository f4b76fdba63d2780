#include "answer_sheet.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "recognition/byte_order.h"
#include "recognition/file_io.h"
#include "recognition/raw_page.h"
#include "recognition/testkit/code128_encoder.h"

namespace zerik::sim {
namespace {

using recognition::kFirstPixel;
using recognition::kRawLineBytes;

constexpr int kLineWidth = static_cast<int>(kRawLineBytes);
constexpr int kBarSamples = 500;           // the reader's sample store
constexpr int kBarQuietMin = 12;           // light samples at least on each side of the bars
constexpr std::uint8_t kPrintInk = 18;     // timing marks, barcode, calibration row
constexpr std::uint8_t kLabelInk = 40;     // printed labels
constexpr std::uint8_t kDropOutInk = 216;  // mark box outlines, nearly invisible to the reader

// Paper start as the reader finds it: from line 10 on, the first line with fewer than 9 of
// the pixels 764..963 below 200.
constexpr int kProbeFrom = 764;
constexpr int kProbeTo = 963;

std::uint32_t Hash(std::uint32_t seed, std::uint32_t a, std::uint32_t b) {
    std::uint32_t h = seed * 0x9E3779B1u ^ (a + 0x7F4A7C15u) * 0x85EBCA77u ^ b * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

// Uniform noise in -spread..spread.
int Noise(std::uint32_t seed, int x, int y, int spread) {
    if (spread <= 0) return 0;
    const auto h = Hash(seed, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    return static_cast<int>(h % static_cast<std::uint32_t>(2 * spread + 1)) - spread;
}

// The highest pixel value whose three-pixel column darkness (63 - (3p * 10 >> 7)) reaches
// the darkness.
int PixelForDarkness(int darkness) {
    for (int p = 254; p >= 0; --p) {
        if (63 - ((3 * p * 10) >> 7) >= darkness) return p;
    }
    return 0;
}

// 5 x 7 glyphs, one row per byte, bit 4 the leftmost pixel.
struct Glyph {
    char c;
    std::array<std::uint8_t, 7> rows;
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
};
constexpr int kGlyphScale = 2;
constexpr int kGlyphAdvance = 6 * kGlyphScale;

// The paper, upright, one byte per pixel.
class PaperImage {
  public:
    PaperImage(const Form& form)
        : width_(form.paper_width), height_(form.paper_height), seed_(form.seed) {
        pixels_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                At(x, y) = static_cast<std::uint8_t>(
                    std::clamp(form.paper_shade + Noise(seed_, x, y, form.noise), 0, 254));
            }
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }

    // Darkens the pixel to value (ink never lightens the paper).
    void Ink(int x, int y, int value) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        auto& pixel = At(x, y);
        pixel = static_cast<std::uint8_t>(std::min<int>(pixel, std::clamp(value, 0, 254)));
    }

    void Rect(int x0, int y0, int width, int height, int value, int texture) {
        for (int y = y0; y < y0 + height; ++y) {
            for (int x = x0; x < x0 + width; ++x)
                Ink(x, y, value + Noise(seed_ + 1, x, y, texture));
        }
    }

    // A pencilled oval centred on (cx, cy) that fills the box height along its middle; the
    // pencil's grain only ever darkens the value.
    void Oval(double cx, double cy, double rx, double ry, int value, int texture) {
        for (int y = static_cast<int>(std::floor(cy - ry));
             y <= static_cast<int>(std::ceil(cy + ry)); ++y) {
            for (int x = static_cast<int>(std::floor(cx - rx));
                 x <= static_cast<int>(std::ceil(cx + rx)); ++x) {
                const double dx = (x - cx) / rx;
                const double dy = (y - cy) / ry;
                if (dx * dx + dy * dy <= 1.0)
                    Ink(x, y, value - std::abs(Noise(seed_ + 2, x, y, texture)));
            }
        }
    }

    void Label(int x0, int y0, const std::string& text) {
        int x = x0;
        for (char c : text) {
            const auto glyph = std::find_if(std::begin(kFont), std::end(kFont),
                                            [c](const Glyph& g) { return g.c == c; });
            if (glyph != std::end(kFont)) {
                for (int row = 0; row < 7; ++row) {
                    for (int col = 0; col < 5; ++col) {
                        if ((glyph->rows[static_cast<std::size_t>(row)] & (0x10 >> col)) == 0)
                            continue;
                        Rect(x + col * kGlyphScale, y0 + row * kGlyphScale, kGlyphScale,
                             kGlyphScale, kLabelInk, 4);
                    }
                }
            }
            x += kGlyphAdvance;
        }
    }

    // Bilinear sample at a point on the paper (inside 0..width-1, 0..height-1).
    double Sample(double u, double v) const {
        const int x = std::clamp(static_cast<int>(std::floor(u)), 0, width_ - 2);
        const int y = std::clamp(static_cast<int>(std::floor(v)), 0, height_ - 2);
        const double fx = std::clamp(u - x, 0.0, 1.0);
        const double fy = std::clamp(v - y, 0.0, 1.0);
        const double top = At(x, y) * (1 - fx) + At(x + 1, y) * fx;
        const double bottom = At(x, y + 1) * (1 - fx) + At(x + 1, y + 1) * fx;
        return top * (1 - fy) + bottom * fy;
    }

  private:
    std::uint8_t& At(int x, int y) {
        return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                       static_cast<std::size_t>(x)];
    }
    std::uint8_t At(int x, int y) const {
        return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                       static_cast<std::size_t>(x)];
    }

    int width_;
    int height_;
    std::uint32_t seed_;
    std::vector<std::uint8_t> pixels_;
};

int RowTop(const Form& form, int row) {
    return form.first_row + (row - 1) * form.pitch;
}

std::vector<int> BarcodeModules(const FormBarcode& barcode) {
    using recognition::testkit::CodeSet;
    const std::vector<int> symbols =
        recognition::testkit::code128_symbols(barcode.text, CodeSet::B);
    return recognition::testkit::code128_modules(symbols);
}

int ModuleCount(const std::vector<int>& modules) {
    int total = 0;
    for (int m : modules) total += m;
    return total;
}

void DrawForm(const Form& form, const std::vector<int>& bar_modules, PaperImage& paper) {
    for (const FormText& t : form.texts) paper.Label(t.x, t.y, t.text);

    const int half_box = form.box_width / 2;
    for (int row = 1; row <= form.rows; ++row) {
        const int top = RowTop(form, row);
        paper.Rect(form.timing_x - form.timing_width / 2, top, form.timing_width, form.mark_height,
                   kPrintInk, 3);
        for (int x : form.columns) {
            // Brackets in drop-out ink: the sides and short corner ticks, away from the
            // middle of the box where the reader samples.
            const int left = x - half_box;
            const int right = x + half_box - 1;
            paper.Rect(left - 2, top - 2, 2, form.mark_height + 4, kDropOutInk, 2);
            paper.Rect(right + 1, top - 2, 2, form.mark_height + 4, kDropOutInk, 2);
            paper.Rect(left, top - 2, 5, 1, kDropOutInk, 2);
            paper.Rect(right - 4, top - 2, 5, 1, kDropOutInk, 2);
            paper.Rect(left, top + form.mark_height + 1, 5, 1, kDropOutInk, 2);
            paper.Rect(right - 4, top + form.mark_height + 1, 5, 1, kDropOutInk, 2);
            if (row == 1 && form.calibration_row) {
                paper.Rect(left, top, form.box_width, form.mark_height, kPrintInk + 4, 3);
            }
        }
    }

    for (const FormMark& m : form.marks) {
        const double cx = form.columns[static_cast<std::size_t>(m.column - 1)] - 0.5;
        const double cy = RowTop(form, m.row) + (form.mark_height - 1) / 2.0;
        const int value = PixelForDarkness(m.darkness);
        switch (m.kind) {
            case MarkKind::Fill:
            case MarkKind::Half:
                paper.Oval(cx, cy, half_box - 2, form.mark_height / 2.0 + 0.5, value, 2);
                break;
            case MarkKind::Smudge:
                // Graphite rubbed out: a faint patch larger than the mark was.
                paper.Oval(cx + 1, cy, half_box, form.mark_height / 2.0 + 2, value, 3);
                break;
        }
    }

    if (!form.barcode.text.empty()) {
        int x = form.barcode.x;
        for (std::size_t i = 0; i < bar_modules.size(); ++i) {
            const int width = bar_modules[i] * form.barcode.module;
            if (i % 2 == 0) paper.Rect(x, form.barcode.y, width, form.barcode.height, kPrintInk, 2);
            x += width;
        }
    }
}

// Where the paper lies on the page: a point (u, v) of the paper goes to
// (x0 + u cos - v sin, y0 + u sin + v cos).
struct Placement {
    double cos;
    double sin;
    double x0;
    double y0;
    int lines;

    double PageX(double u, double v) const { return x0 + u * cos - v * sin; }
    double PageY(double u, double v) const { return y0 + u * sin + v * cos; }
};

Placement Place(const Form& form) {
    const double angle = form.skew_degrees * std::numbers::pi / 180;
    Placement p{std::cos(angle), std::sin(angle), static_cast<double>(form.paper_x), 0, 0};
    const double w = form.paper_width;
    const double h = form.paper_height;
    const double ys[] = {0, w * p.sin, h * p.cos, w * p.sin + h * p.cos};
    const double top = *std::min_element(std::begin(ys), std::end(ys));
    const double bottom = *std::max_element(std::begin(ys), std::end(ys));
    p.y0 = form.lead_lines - top;
    p.lines = form.lead_lines + static_cast<int>(std::ceil(bottom - top)) + form.trail_lines;
    return p;
}

}  // namespace

bool RenderAnswerSheet(const Form& form, RenderedSheet* sheet, std::string* error) {
    std::vector<int> bar_modules;
    if (!form.barcode.text.empty()) {
        try {
            bar_modules = BarcodeModules(form.barcode);
        } catch (const std::exception& e) {
            *error = std::string("barcode: ") + e.what();
            return false;
        }
        const int width = ModuleCount(bar_modules) * form.barcode.module;
        if (width + 2 * kBarQuietMin > kBarSamples) {
            *error = "barcode: " + std::to_string(width) +
                     " pixels wide, the reader takes at most " +
                     std::to_string(kBarSamples - 2 * kBarQuietMin);
            return false;
        }
        if (form.barcode.x + width > form.paper_width) {
            *error = "barcode: reaches past the paper's right edge";
            return false;
        }
    }

    PaperImage paper(form);
    DrawForm(form, bar_modules, paper);
    const Placement place = Place(form);

    RenderedSheet out;
    out.lines = place.lines;
    out.page.assign(static_cast<std::size_t>(out.lines) * kRawLineBytes, 0);
    const std::span<std::uint8_t> page(out.page);
    for (int y = 0; y < out.lines; ++y) {
        const std::span<std::uint8_t> line =
            page.subspan(static_cast<std::size_t>(y) * kRawLineBytes, kRawLineBytes);
        recognition::store_u16le(line, 0, static_cast<std::uint16_t>(y));
        recognition::store_u16le(line, 2, static_cast<std::uint16_t>(kLineWidth));
        line[6] = static_cast<std::uint8_t>(y & 1);
        for (int x = static_cast<int>(kFirstPixel); x < kLineWidth; ++x) {
            const double dx = x - place.x0;
            const double dy = y - place.y0;
            const double u = dx * place.cos + dy * place.sin;
            const double v = -dx * place.sin + dy * place.cos;
            int value;
            if (u >= 0 && v >= 0 && u <= paper.width() - 1 && v <= paper.height() - 1) {
                value = static_cast<int>(std::lround(paper.Sample(u, v)));
            } else {
                value = form.backing_shade + Noise(form.seed + 3, x, y, form.noise);
            }
            line[static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(std::clamp(value, 0, 254));
        }
    }

    out.paper_start = 0;
    for (int y = 10; y < out.lines && out.paper_start == 0; ++y) {
        const std::uint8_t* line = out.page.data() + static_cast<std::size_t>(y) * kRawLineBytes;
        int dark = 0;
        for (int x = kProbeFrom; x <= kProbeTo; ++x) dark += line[x] < 200 ? 1 : 0;
        if (dark < 9) out.paper_start = y;
    }
    if (out.paper_start == 0) {
        *error = "the rendered page shows no paper";
        return false;
    }

    // Sampling points in the middle of the grid's height; the skew moves them by a few
    // pixels over the grid, well inside the boxes.
    const double grid_middle =
        RowTop(form, 1) + ((form.rows - 1) * form.pitch + form.mark_height) / 2.0;
    out.parameters.positions.push_back(
        static_cast<std::int16_t>(std::lround(place.PageX(form.timing_x - 0.5, grid_middle))));
    for (int x : form.columns) {
        out.parameters.positions.push_back(
            static_cast<std::int16_t>(std::lround(place.PageX(x - 0.5, grid_middle))));
    }
    if (!form.barcode.text.empty()) {
        const int width = ModuleCount(bar_modules) * form.barcode.module;
        const int quiet = (kBarSamples - width) / 2;
        const double middle = form.barcode.y + form.barcode.height / 2.0;
        const double start = form.barcode.x - quiet;
        out.parameters.bar.type =
            static_cast<std::int16_t>(recognition::BarSamplingType::horizontal);
        out.parameters.bar.x = static_cast<std::int16_t>(std::lround(place.PageX(start, middle)));
        out.parameters.bar.y = static_cast<std::int16_t>(
            std::lround(place.PageY(form.barcode.x + width / 2.0, middle)) - out.paper_start);
        out.parameters.bar.length = kBarSamples;
    }
    *sheet = std::move(out);
    return true;
}

std::string ExpectedListing(const Form& form) {
    std::ostringstream out;
    const std::vector<std::string> rows = ExpectedRows(form);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out << (r + 1 < 10 ? "0" : "") << r + 1 << ": " << rows[r] << "\n";
    }
    if (!form.barcode.text.empty()) out << "& " << form.barcode.text << "\n";
    return out.str();
}

bool WriteDemoFiles(const Form& form, std::string_view form_text, const RenderedSheet& sheet,
                    const std::string& dir, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        *error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    const auto path = [&dir](const char* name) {
        return (std::filesystem::path(dir) / name).string();
    };
    auto write_text = [&](const char* name, std::string_view text) {
        std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) *error = "cannot write " + path(name);
        return static_cast<bool>(out);
    };
    auto write_bytes = [&](const char* name, std::span<const std::uint8_t> bytes) {
        if (recognition::write_binary_file(path(name), bytes)) return true;
        *error = "cannot write " + path(name);
        return false;
    };

    recognition::ShadingTable neutral;
    neutral.entries.fill(recognition::shading_entry(0, 16));
    const std::vector<std::uint8_t> shading = recognition::serialize_shading_table(neutral);

    const recognition::ParameterFile& p = sheet.parameters;
    std::ostringstream posi;
    posi << "# columns: count, then the pixel of the timing column and of each mark column\n"
         << p.positions.size() << "\n";
    for (std::int16_t x : p.positions) posi << x << "\n";
    posi << "# barcode: barT barX barY barL\n"
         << p.bar.type << " " << p.bar.x << " " << p.bar.y << " " << p.bar.length << "\n"
         << "0 0\n";

    // Stop values: the number of rows and the lines from the paper start to the end of the
    // last row.
    const double last_row_end = form.first_row + (form.rows - 1) * form.pitch + form.mark_height;
    std::ostringstream stop;
    stop << form.rows << "\n"
         << static_cast<int>(std::lround(Place(form).PageY(form.timing_x, last_row_end))) -
                sheet.paper_start
         << "\n";

    return write_text("c5502.par", recognition::format_parameter_file(p)) &&
           write_bytes("red.tbl", shading) && write_bytes("blue.tbl", shading) &&
           write_text("posi.asc", posi.str()) && write_text("stop.asc", stop.str()) &&
           write_text("form.txt", form_text) && write_bytes("sheet.raw", sheet.page) &&
           write_text("expected.txt", ExpectedListing(form));
}

AnswerSheetOptions::AnswerSheetOptions() : form_text_(DefaultFormText()) {}

int AnswerSheetOptions::TakeOption(std::span<const std::string> args, std::string* error) {
    if (args.empty()) return 0;
    const std::string& option = args[0];
    if (option != "--form" && option != "--write-demo-files") return 0;
    if (args.size() < 2) {
        *error = option + " needs a value";
        return -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (option == "--form") {
        std::ifstream in(args[1], std::ios::binary);
        if (!in) {
            *error = "cannot read form file " + args[1];
            return -1;
        }
        std::ostringstream text;
        text << in.rdbuf();
        Form form;
        if (!ParseForm(text.str(), &form, error)) {
            *error = args[1] + ": " + *error;
            return -1;
        }
        form_text_ = text.str();
        rendered_.reset();
    } else {
        demo_dir_ = args[1];
    }
    if (!demo_dir_.empty()) {
        if (!RenderLocked(error) ||
            !WriteDemoFiles(form_, form_text_, *rendered_, demo_dir_, error)) {
            return -1;
        }
    }
    return 2;
}

std::string AnswerSheetOptions::Help() {
    return "  --form FILE           the answer sheet fed when no --sheet is given, from a form\n"
           "                        description (see --write-demo-files' form.txt); without\n"
           "                        it a built-in 100-question sheet\n"
           "  --write-demo-files DIR  write the answer sheet's c5502.par, red.tbl, blue.tbl,\n"
           "                        posi.asc, stop.asc, form.txt, sheet.raw and expected.txt\n"
           "                        into DIR\n";
}

std::vector<std::uint8_t> AnswerSheetOptions::Page() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    if (!RenderLocked(&error)) return {};
    return rendered_->page;
}

bool AnswerSheetOptions::RenderLocked(std::string* error) {
    if (rendered_) return true;
    Form form;
    RenderedSheet sheet;
    if (!ParseForm(form_text_, &form, error) || !RenderAnswerSheet(form, &sheet, error))
        return false;
    form_ = std::move(form);
    rendered_ = std::move(sheet);
    return true;
}

}  // namespace zerik::sim
