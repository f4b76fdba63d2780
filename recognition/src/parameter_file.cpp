#include "recognition/parameter_file.h"

#include <array>
#include <cctype>
#include <span>

#include "recognition/raw_page.h"

namespace recognition {
namespace {

// The tools read the file with an 80-byte line buffer: a longer line is split.
constexpr std::size_t kLineLimit = 79;

class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}

    std::optional<std::string_view> next() {
        if (pos_ >= text_.size()) return std::nullopt;
        std::size_t end = pos_;
        while (end < text_.size() && end - pos_ < kLineLimit) {
            if (text_[end++] == '\n') break;
        }
        const std::string_view line = text_.substr(pos_, end - pos_);
        pos_ = end;
        return line;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Reads up to values.size() decimal integers the way "%d" conversions do; returns how many.
std::size_t parse_integers(std::string_view line, std::span<long> values) {
    std::size_t count = 0;
    std::size_t i = 0;
    while (count < values.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        bool negative = false;
        if (i < line.size() && (line[i] == '-' || line[i] == '+')) negative = line[i++] == '-';
        if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i]))) break;
        long value = 0;
        while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
            if (value < 1000000) value = value * 10 + (line[i] - '0');
            ++i;
        }
        values[count++] = negative ? -value : value;
    }
    return count;
}

bool fits_int16(long value) {
    return value >= -32768 && value <= 32767;
}

std::string numbered(const char* what, std::size_t line_number) {
    return std::string(what) + " (line " + std::to_string(line_number) + ")";
}

}  // namespace

ParameterParse parse_parameter_file(std::string_view text) {
    ParameterParse parse;
    LineReader reader(text);
    std::size_t line_number = 0;

    std::array<long, 4> values{};
    auto line = reader.next();
    ++line_number;
    if (!line || parse_integers(*line, std::span(values).first(1)) != 1) {
        parse.error = numbered("no column count", line_number);
        return parse;
    }
    const long count = values[0];
    if (count < 1 || count > kMaxColumns) {
        parse.error = numbered("column count outside 1..41", line_number);
        return parse;
    }

    ParameterFile parameters;
    for (long c = 0; c < count; ++c) {
        line = reader.next();
        ++line_number;
        if (!line || parse_integers(*line, std::span(values).first(1)) != 1) {
            parse.error = numbered("missing column position", line_number);
            return parse;
        }
        // The column's darkness is taken from the position and both its neighbours.
        if (values[0] < 1 || values[0] > static_cast<long>(kRawLineBytes) - 2) {
            parse.error = numbered("column position outside 1..1726", line_number);
            return parse;
        }
        parameters.positions.push_back(static_cast<std::int16_t>(values[0]));
    }

    line = reader.next();
    ++line_number;
    if (line) {
        if (parse_integers(*line, values) != 4) {
            parse.error = numbered("barcode line needs barT barX barY barL", line_number);
            return parse;
        }
        for (long v : values) {
            if (!fits_int16(v)) {
                parse.error = numbered("barcode value outside 16 bits", line_number);
                return parse;
            }
        }
        const long type = values[0], x = values[1], length = values[3];
        if (type < 0 || type > 2) {
            parse.error = numbered("barT outside 0..2", line_number);
            return parse;
        }
        if (type != 0) {
            if (length < 0 || length > kMaxBarSamples) {
                parse.error = numbered("barL outside 0..500", line_number);
                return parse;
            }
            const long last_x = type == 1 ? x + length - 1 : x;
            if (x < 0 || last_x >= static_cast<long>(kRawLineBytes)) {
                parse.error = numbered("barcode pixels outside the line", line_number);
                return parse;
            }
        }
        parameters.bar = {
            static_cast<std::int16_t>(values[0]), static_cast<std::int16_t>(values[1]),
            static_cast<std::int16_t>(values[2]), static_cast<std::int16_t>(values[3])};
    }
    parse.parameters = std::move(parameters);
    return parse;
}

std::string format_parameter_file(const ParameterFile& parameters) {
    std::string text = std::to_string(parameters.positions.size()) + "\n";
    for (std::int16_t p : parameters.positions) text += std::to_string(p) + "\n";
    text += std::to_string(parameters.bar.type) + " " + std::to_string(parameters.bar.x) + " " +
            std::to_string(parameters.bar.y) + " " + std::to_string(parameters.bar.length) + "\n";
    return text;
}

}  // namespace recognition
