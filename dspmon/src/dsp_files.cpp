#include "dsp_files.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace dspmon {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Hands out the lines of a text file with their numbers; a last line
// without a line break counts as a line.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool Next(std::string_view* line) {
        if (pos_ >= text_.size()) return false;
        const std::size_t end = text_.find('\n', pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        *line = text_.substr(pos_, stop - pos_);
        if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
        pos_ = stop + 1;
        ++number_;
        return true;
    }
    int number() const { return number_; }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int number_ = 0;
};

std::optional<int32_t> ParseDecimal(std::string_view token) {
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);
    int64_t value = 0;
    const char* end = token.data() + token.size();
    const auto [ptr, ec] = std::from_chars(token.data(), end, value);
    if (ec != std::errc() || ptr != end || token.empty()) return std::nullopt;
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

// The first `count` blank-separated numbers of a line; what follows them is
// not looked at.
std::optional<std::vector<int32_t>> ParseLineValues(std::string_view line, std::size_t count) {
    std::vector<int32_t> values;
    std::size_t pos = 0;
    while (values.size() < count) {
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos >= line.size()) return std::nullopt;
        std::size_t end = pos;
        while (end < line.size() && !IsBlank(line[end])) ++end;
        const auto value = ParseDecimal(line.substr(pos, end - pos));
        if (!value) return std::nullopt;
        values.push_back(*value);
        pos = end;
    }
    return values;
}

uint16_t Low16(int64_t value) {
    return static_cast<uint16_t>(value & 0xFFFF);
}

// Reads the lines of one file in order and words the reason of a refusal.
class FileParser {
  public:
    explicit FileParser(std::string_view text) : reader_(text) {}

    // The next line, refusing one too long to be read whole.
    bool NextLine(std::string_view* line) {
        if (!reader_.Next(line)) {
            error_ = "ends before line " + std::to_string(reader_.number() + 1);
            return false;
        }
        if (line->size() > kMaxTextLineLength) {
            error_ = "line " + std::to_string(reader_.number()) + " is longer than " +
                     std::to_string(kMaxTextLineLength) + " characters";
            return false;
        }
        return true;
    }

    std::optional<std::vector<int32_t>> Values(std::string_view line, std::size_t count) {
        auto values = ParseLineValues(line, count);
        if (!values) {
            error_ =
                "line " + std::to_string(reader_.number()) +
                (count == 1 ? " is not a number" : " needs " + std::to_string(count) + " numbers");
        }
        return values;
    }

    bool AtEnd() const { return at_end_; }
    void SetError(std::string error) { error_ = std::move(error); }
    const std::string& error() const { return error_; }
    int line_number() const { return reader_.number(); }

    // Like NextLine, but the end of the file is no error.
    bool NextLineOrEnd(std::string_view* line) {
        if (!reader_.Next(line)) {
            at_end_ = true;
            return false;
        }
        if (line->size() > kMaxTextLineLength) {
            error_ = "line " + std::to_string(reader_.number()) + " is longer than " +
                     std::to_string(kMaxTextLineLength) + " characters";
            return false;
        }
        return true;
    }

  private:
    LineReader reader_;
    std::string error_;
    bool at_end_ = false;
};

bool IsComment(std::string_view line) {
    return !line.empty() && line.front() == '#';
}

}  // namespace

void ReadTableWords(std::span<const uint8_t> file, std::span<uint16_t> words) {
    if (file.size() <= kTableHeaderBytes) return;
    const std::span<const uint8_t> entries = file.subspan(kTableHeaderBytes);
    const std::size_t count = std::min(words.size(), entries.size() / 2);
    for (std::size_t i = 0; i < count; ++i) {
        words[i] = static_cast<uint16_t>(entries[2 * i] | (entries[2 * i + 1] << 8));
    }
}

Parsed<PositionData> ParsePositionFile(std::string_view text, PositionFileKind kind) {
    FileParser parser(text);
    std::string_view line;
    auto fail = [&parser] { return Parsed<PositionData>{std::nullopt, parser.error()}; };

    if (!parser.NextLine(&line)) return fail();
    if (IsComment(line) && !parser.NextLine(&line)) return fail();
    const auto count = parser.Values(line, 1);
    if (!count) return fail();
    if ((*count)[0] < 0 || (*count)[0] > static_cast<int32_t>(kMaxColumns)) {
        parser.SetError("line " + std::to_string(parser.line_number()) + ": " +
                        std::to_string((*count)[0]) + " column positions, at most " +
                        std::to_string(kMaxColumns));
        return fail();
    }
    std::vector<int32_t> columns;
    for (int32_t i = 0; i < (*count)[0]; ++i) {
        if (!parser.NextLine(&line)) return fail();
        const auto column = parser.Values(line, 1);
        if (!column) return fail();
        columns.push_back((*column)[0]);
    }
    if (!parser.NextLine(&line)) return fail();
    if (kind == PositionFileKind::Main && IsComment(line) && !parser.NextLine(&line)) {
        return fail();
    }
    const auto bar = parser.Values(line, 4);
    if (!bar) return fail();
    if (!parser.NextLine(&line)) return fail();
    const auto offsets = parser.Values(line, 2);
    if (!offsets) return fail();

    const int64_t horizontal = (*offsets)[0];
    const int64_t vertical = (*offsets)[1];
    PositionData data;
    for (const int32_t column : columns) data.columns.push_back(Low16(column + horizontal));
    data.bar = {Low16((*bar)[0]), Low16((*bar)[1] + horizontal), Low16((*bar)[2] + vertical),
                Low16((*bar)[3])};
    return {std::move(data), std::string()};
}

Parsed<std::vector<uint16_t>> ParseStopFile(std::string_view text) {
    FileParser parser(text);
    std::vector<uint16_t> values;
    std::string_view line;
    while (parser.NextLineOrEnd(&line)) {
        if (IsComment(line) && !parser.NextLineOrEnd(&line)) break;
        const auto value = parser.Values(line, 1);
        if (!value) return {std::nullopt, parser.error()};
        if (values.size() == kMaxStopValues) {
            return {std::nullopt, "more than " + std::to_string(kMaxStopValues) + " values"};
        }
        values.push_back(Low16((*value)[0]));
    }
    if (!parser.AtEnd()) return {std::nullopt, parser.error()};
    return {std::move(values), std::string()};
}

void StorePositions(const PositionData& data, WordBuf& buf) {
    buf[0] = static_cast<uint16_t>(data.columns.size());
    for (std::size_t i = 0; i < data.columns.size(); ++i) buf[1 + i] = data.columns[i];
    for (std::size_t i = 0; i < data.bar.size(); ++i) buf[kBarIndex + i] = data.bar[i];
}

std::vector<uint8_t> SwappedWordBytes(std::span<const uint16_t> words) {
    std::vector<uint8_t> bytes;
    bytes.reserve(words.size() * 2);
    for (const uint16_t word : words) {
        bytes.push_back(static_cast<uint8_t>(word >> 8));
        bytes.push_back(static_cast<uint8_t>(word & 0xFF));
    }
    return bytes;
}

}  // namespace dspmon
