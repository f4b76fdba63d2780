#include "answer_form.h"

#include <cctype>
#include <cmath>
#include <numbers>
#include <sstream>

namespace zerik::sim {
namespace {

constexpr char kDefaultForm[] =
    R"(# Answer sheet of 100 questions in four blocks of 25, choices A to E.
# Row 1 is printed black: the reader measures the sheet's skew on it.
paper 1654 1400
place 37 40 60
skew 0.3
shade 236 10 2
seed 7
timing 50 36
rows 26 300 40 14
columns 230 276 322 368 414
columns 590 636 682 728 774
columns 950 996 1042 1088 1134
columns 1310 1356 1402 1448 1494
box 28
calibration

text 120 70 ZERIK ANSWER SHEET
text 120 110 CANDIDATE 0042   PAPER 7
barcode 1080 60 3 64 ZK2026-0042
text 1180 136 ZK2026-0042

text 226 252 A
text 272 252 B
text 318 252 C
text 364 252 D
text 410 252 E
text 586 252 A
text 632 252 B
text 678 252 C
text 724 252 D
text 770 252 E
text 946 252 A
text 992 252 B
text 1038 252 C
text 1084 252 D
text 1130 252 E
text 1306 252 A
text 1352 252 B
text 1398 252 C
text 1444 252 D
text 1490 252 E
numbers 150 2 1
numbers 510 2 26
numbers 870 2 51
numbers 1230 2 76

# The candidate's answers: capitals filled, small letters lightly pencilled, '.' left blank.
answers 2 1 CADBEACDBBEADCEBACDEABDCE
answers 2 6 DBEaCADEBCCAEDBADcEBDAECB
answers 2 11 EACBDDBAECBEDACbDAECDBAEC
answers 2 16 ABDCEBCA.EDBACEDBCAEBDACB
# Answers changed with an eraser.
smudge 5 3
smudge 9 8
smudge 14 12
smudge 20 17
)";

struct Limits {
    int low;
    int high;
};

class LineReader {
  public:
    LineReader(std::string_view line, int number) : in_(std::string(line)), number_(number) {}

    bool Int(const char* what, Limits limits, int* value, std::string* error) {
        long long parsed = 0;
        std::string word;
        if (!(in_ >> word)) return Fail(std::string("missing ") + what, error);
        try {
            std::size_t used = 0;
            parsed = std::stoll(word, &used, 10);
            if (used != word.size()) return Fail(std::string("bad ") + what + ": " + word, error);
        } catch (const std::exception&) {
            return Fail(std::string("bad ") + what + ": " + word, error);
        }
        if (parsed < limits.low || parsed > limits.high) {
            return Fail(std::string(what) + " must be " + std::to_string(limits.low) + ".." +
                            std::to_string(limits.high),
                        error);
        }
        *value = static_cast<int>(parsed);
        return true;
    }

    bool OptionalInt(const char* what, Limits limits, int fallback, int* value,
                     std::string* error) {
        in_ >> std::ws;
        if (in_.eof()) {
            *value = fallback;
            return true;
        }
        return Int(what, limits, value, error);
    }

    bool Double(const char* what, double low, double high, double* value, std::string* error) {
        std::string word;
        if (!(in_ >> word)) return Fail(std::string("missing ") + what, error);
        try {
            std::size_t used = 0;
            *value = std::stod(word, &used);
            if (used != word.size() || !std::isfinite(*value)) throw std::invalid_argument(word);
        } catch (const std::exception&) {
            return Fail(std::string("bad ") + what + ": " + word, error);
        }
        if (*value < low || *value > high) return Fail(std::string(what) + " out of range", error);
        return true;
    }

    // The rest of the line, leading blanks removed.
    std::string Rest() {
        in_ >> std::ws;
        std::string rest;
        std::getline(in_, rest);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) {
            rest.pop_back();
        }
        return rest;
    }

    bool End(std::string* error) {
        std::string extra;
        if (in_ >> extra) return Fail("unexpected " + extra, error);
        return true;
    }

    bool Fail(const std::string& message, std::string* error) const {
        *error = "form line " + std::to_string(number_) + ": " + message;
        return false;
    }

  private:
    std::istringstream in_;
    int number_;
};

constexpr Limits kFillDarkness{45, 63};
constexpr Limits kHalfDarkness{22, 34};
constexpr Limits kSmudgeDarkness{0, 14};
constexpr int kMaxMarkColumns = 40;

bool PrintableLabel(const std::string& text) {
    for (char c : text) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == ' ' || c == '-' ||
                        c == '.' || c == ':' || c == '/';
        if (!ok) return false;
    }
    return true;
}

// Checks what single lines cannot: the grid within the paper, marks within the grid, one
// mark per box, and room on the page for the reader to find the paper's start and end.
bool CheckForm(const Form& f, std::string* error) {
    auto fail = [error](const std::string& message) {
        *error = "form: " + message;
        return false;
    };
    if (f.rows < 1) return fail("no rows");
    if (f.columns.empty()) return fail("no mark columns");
    if (f.columns.size() > kMaxMarkColumns) return fail("more than 40 mark columns");
    const int grid_end = f.first_row + (f.rows - 1) * f.pitch + f.mark_height;
    if (f.first_row < 40) return fail("row 1 must start 40 lines or more below the paper's top");
    if (grid_end + 60 > f.paper_height) {
        return fail("the grid must end 60 lines or more above the paper's bottom");
    }
    if (f.pitch < f.mark_height + 8) return fail("rows must be 8 lines or more apart");
    const int half_timing = f.timing_width / 2;
    if (f.timing_x - half_timing < 4 || f.timing_x + half_timing > f.paper_width - 4) {
        return fail("timing track outside the paper");
    }
    for (int x : f.columns) {
        if (x - f.box_width / 2 < 4 || x + f.box_width / 2 > f.paper_width - 4) {
            return fail("mark column at " + std::to_string(x) + " outside the paper");
        }
        if (std::abs(x - f.timing_x) < (f.box_width + f.timing_width) / 2 + 4) {
            return fail("mark column at " + std::to_string(x) + " overlaps the timing track");
        }
    }
    // The reader finds the paper by the pixels 764..963 of a line.
    if (f.paper_x > 764 || f.paper_x + f.paper_width < 964 || f.paper_x + f.paper_width > 1728) {
        return fail("the paper must span pixels 764..963 and end inside the line");
    }
    if (f.lead_lines < 12) return fail("at least 12 backing lines before the paper");
    if (f.trail_lines < 40) return fail("at least 40 backing lines after the paper");
    const int page_lines =
        f.lead_lines + f.paper_height + f.trail_lines +
        static_cast<int>(
            std::ceil(std::abs(std::sin(f.skew_degrees * std::numbers::pi / 180) * f.paper_width)));
    // The reader looks for the paper's end from line 1000 on, and the column chart keeps
    // 2700 lines.
    if (f.lead_lines + f.paper_height < 1010) return fail("the paper must reach past line 1010");
    if (page_lines > 2600) return fail("the page is longer than 2600 lines");
    std::vector<std::vector<int>> used(static_cast<std::size_t>(f.rows) + 1,
                                       std::vector<int>(f.columns.size() + 1, 0));
    for (const FormMark& m : f.marks) {
        if (m.row < 1 || m.row > f.rows) {
            return fail("mark in row " + std::to_string(m.row) + ", the grid has " +
                        std::to_string(f.rows));
        }
        if (m.column < 1 || m.column > static_cast<int>(f.columns.size())) {
            return fail("mark in column " + std::to_string(m.column) + ", the grid has " +
                        std::to_string(f.columns.size()));
        }
        if (f.calibration_row && m.row == 1) return fail("row 1 is the printed calibration row");
        int& cell = used[static_cast<std::size_t>(m.row)][static_cast<std::size_t>(m.column)];
        if (cell != 0) {
            return fail("two marks in row " + std::to_string(m.row) + " column " +
                        std::to_string(m.column));
        }
        cell = 1;
    }
    if (!f.barcode.text.empty()) {
        if (f.barcode.x < 0 || f.barcode.y < 0 ||
            f.barcode.y + f.barcode.height > f.first_row - 60) {
            return fail("the barcode must lie on the paper, 60 lines or more above row 1");
        }
    }
    return true;
}

}  // namespace

std::string_view DefaultFormText() {
    return kDefaultForm;
}

bool ParseForm(std::string_view text, Form* form, std::string* error) {
    Form f;
    int number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        std::istringstream words{std::string(line)};
        std::string key;
        if (!(words >> key)) continue;
        LineReader in(line.substr(line.find(key) + key.size()), number);
        bool ok = true;
        if (key == "paper") {
            ok = in.Int("width", {300, 1728}, &f.paper_width, error) &&
                 in.Int("height", {300, 2500}, &f.paper_height, error);
        } else if (key == "place") {
            ok = in.Int("paper x", {0, 1000}, &f.paper_x, error) &&
                 in.Int("lead lines", {0, 400}, &f.lead_lines, error) &&
                 in.Int("trail lines", {0, 400}, &f.trail_lines, error);
        } else if (key == "skew") {
            ok = in.Double("skew", -3, 3, &f.skew_degrees, error);
        } else if (key == "shade") {
            ok = in.Int("paper shade", {225, 250}, &f.paper_shade, error) &&
                 in.Int("backing shade", {0, 16}, &f.backing_shade, error) &&
                 in.Int("noise", {0, 4}, &f.noise, error);
        } else if (key == "seed") {
            int seed = 0;
            ok = in.Int("seed", {0, 2147483647}, &seed, error);
            f.seed = static_cast<std::uint32_t>(seed);
        } else if (key == "timing") {
            ok = in.Int("timing x", {0, 1728}, &f.timing_x, error) &&
                 in.Int("timing width", {6, 80}, &f.timing_width, error);
        } else if (key == "rows") {
            ok = in.Int("row count", {1, 150}, &f.rows, error) &&
                 in.Int("first row", {0, 2500}, &f.first_row, error) &&
                 in.Int("pitch", {20, 200}, &f.pitch, error) &&
                 in.Int("mark height", {10, 40}, &f.mark_height, error);
        } else if (key == "columns") {
            int x = 0;
            int count = 0;
            while ((ok = in.OptionalInt("column x", {0, 1728}, -1, &x, error)) && x >= 0) {
                f.columns.push_back(x);
                ++count;
            }
            if (ok && count == 0) ok = in.Fail("columns needs positions", error);
        } else if (key == "box") {
            ok = in.Int("box width", {8, 60}, &f.box_width, error);
        } else if (key == "calibration") {
            f.calibration_row = true;
        } else if (key == "barcode") {
            ok = in.Int("barcode x", {0, 1728}, &f.barcode.x, error) &&
                 in.Int("barcode y", {0, 2500}, &f.barcode.y, error) &&
                 in.Int("module", {2, 6}, &f.barcode.module, error) &&
                 in.Int("bar height", {8, 200}, &f.barcode.height, error);
            if (ok) {
                f.barcode.text = in.Rest();
                if (f.barcode.text.empty()) ok = in.Fail("barcode needs a text", error);
                for (char c : f.barcode.text) {
                    if (ok && (c < 32 || c > 126))
                        ok = in.Fail("barcode text not printable", error);
                }
            }
        } else if (key == "text") {
            FormText t;
            ok = in.Int("text x", {0, 1728}, &t.x, error) &&
                 in.Int("text y", {0, 2500}, &t.y, error);
            if (ok) {
                t.text = in.Rest();
                if (!PrintableLabel(t.text)) {
                    ok = in.Fail("labels take digits, A-Z, blank, - . : /", error);
                }
                f.texts.push_back(t);
            }
        } else if (key == "numbers") {
            int x = 0;
            int first_row = 0;
            int first = 0;
            ok = in.Int("numbers x", {0, 1728}, &x, error) &&
                 in.Int("first row", {1, 150}, &first_row, error) &&
                 in.Int("first number", {0, 9999}, &first, error);
            if (ok && f.rows == 0) ok = in.Fail("numbers must follow rows", error);
            for (int row = first_row; ok && row <= f.rows; ++row) {
                const int y = f.first_row + (row - 1) * f.pitch + f.mark_height / 2 - 7;
                f.texts.push_back({x, y, std::to_string(first + row - first_row)});
            }
        } else if (key == "fill" || key == "half" || key == "smudge") {
            FormMark m;
            m.kind = key == "fill"   ? MarkKind::Fill
                     : key == "half" ? MarkKind::Half
                                     : MarkKind::Smudge;
            const Limits limits = key == "fill"   ? kFillDarkness
                                  : key == "half" ? kHalfDarkness
                                                  : kSmudgeDarkness;
            const int fallback = key == "fill" ? 58 : key == "half" ? 30 : 12;
            ok = in.Int("row", {1, 150}, &m.row, error) &&
                 in.Int("column", {1, kMaxMarkColumns}, &m.column, error) &&
                 in.OptionalInt("darkness", limits, fallback, &m.darkness, error);
            if (ok) f.marks.push_back(m);
        } else if (key == "answers") {
            int row = 0;
            int column = 0;
            ok = in.Int("row", {1, 150}, &row, error) &&
                 in.Int("column", {1, kMaxMarkColumns}, &column, error);
            const std::string letters = ok ? in.Rest() : std::string();
            if (ok && letters.empty()) ok = in.Fail("answers needs letters", error);
            for (std::size_t k = 0; ok && k < letters.size(); ++k) {
                const char c = letters[k];
                if (c == '.') continue;
                const bool upper = c >= 'A' && c <= 'Z';
                const bool lower = c >= 'a' && c <= 'z';
                if (!upper && !lower) {
                    ok = in.Fail(std::string("bad answer letter ") + c, error);
                    break;
                }
                f.marks.push_back({row + static_cast<int>(k), column + (upper ? c - 'A' : c - 'a'),
                                   upper ? MarkKind::Fill : MarkKind::Half, upper ? 58 : 30});
            }
        } else {
            ok = in.Fail("unknown setting " + key, error);
        }
        if (!ok) return false;
        // Settings that end in free text have taken the whole line.
        const bool free_text = key == "barcode" || key == "text" || key == "answers";
        if (!free_text && !in.End(error)) return false;
    }
    if (!CheckForm(f, error)) return false;
    *form = std::move(f);
    return true;
}

std::vector<std::string> ExpectedRows(const Form& form) {
    std::vector<std::string> rows(static_cast<std::size_t>(form.rows),
                                  std::string(form.columns.size(), '.'));
    if (form.calibration_row) rows[0].assign(form.columns.size(), 'X');
    for (const FormMark& m : form.marks) {
        char& cell =
            rows[static_cast<std::size_t>(m.row - 1)][static_cast<std::size_t>(m.column - 1)];
        cell = m.kind == MarkKind::Fill ? 'X' : m.kind == MarkKind::Half ? 'h' : '.';
    }
    return rows;
}

}  // namespace zerik::sim
