#include "command_line.h"

#include <cctype>
#include <cstdio>

namespace dspmon {

const char kHelpText[] =
    "\t **** for tallo C5502 debug ****  devlab 201402\n\n"
    "\t                             address: 0~7fff\n"
    "\tdump       d [address]\n"
    "\tenter      e address [value ...]\n"
    "\tfill       f address end_address value\n"
    "\tgo         g ( scanning a sheet !)\n"
    "\tdsp        o ( change DSP, forbit this moment! )\n"
    "\tquit       q\n"
    "\twrite      w ( load 4 files to DSP )\n"
    "\tn          n ( load posi_file named posi1.asc)\n"
    "\t               red.tbl, blue.tbl, posi.asc, stop.asc )\n";

const char kEnterUsage[] = "? e address [value ...]\n";
const char kFillUsage[] = "? f address end_address value\n";

namespace {

constexpr std::size_t kMaxTokenLength = 4;

// Digits, the six characters that follow them in ASCII (: ; < = > ?) and the
// letters A to H in either case.
bool IsArgumentCharacter(char c) {
    if (c >= '0' && c <= '?') return true;
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper >= 'A' && upper <= 'H';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

int CheckArguments(std::string& text) {
    if (const std::size_t colon = text.find(':'); colon != std::string::npos) {
        text.replace(0, colon + 1, colon + 1, ' ');
    }
    for (char& c : text) {
        if (c == ',') c = ' ';
    }
    int tokens = 0;
    std::size_t token_length = 0;
    for (const char c : text) {
        if (c == ' ') {
            token_length = 0;
            continue;
        }
        if (!IsArgumentCharacter(c)) return -1;
        if (++token_length > kMaxTokenLength) return -1;
        if (token_length == 1) ++tokens;
    }
    return tokens;
}

std::vector<uint32_t> ParseHexNumbers(const std::string& text, std::size_t limit) {
    std::vector<uint32_t> numbers;
    std::size_t pos = 0;
    while (numbers.size() < limit) {
        while (pos < text.size() && IsBlank(text[pos])) ++pos;
        bool negative = false;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            negative = text[pos] == '-';
            ++pos;
        }
        // A 0x prefix counts only when a hex digit follows it.
        if (pos + 2 < text.size() && text[pos] == '0' &&
            (text[pos + 1] == 'x' || text[pos + 1] == 'X') && HexDigitValue(text[pos + 2]) >= 0) {
            pos += 2;
        }
        if (pos >= text.size() || HexDigitValue(text[pos]) < 0) break;
        uint32_t value = 0;
        while (pos < text.size() && HexDigitValue(text[pos]) >= 0) {
            value = value * 16u + static_cast<uint32_t>(HexDigitValue(text[pos]));
            ++pos;
        }
        numbers.push_back(negative ? 0u - value : value);
    }
    return numbers;
}

std::string FormatDump(int dsp, uint16_t base, uint16_t first, std::span<const uint16_t> words) {
    std::string out;
    char field[32];
    std::snprintf(field, sizeof field, "#dsp=%d", dsp);
    out += field;
    for (unsigned i = 0; i < 16; ++i) {
        std::snprintf(field, sizeof field, "  %xL", i);
        out += field;
        if (i % 2 == 1) out += ' ';
    }
    out += '\n';
    for (std::size_t line = 0; line < kDumpWords / 16; ++line) {
        const unsigned line_address = base + line * 16u;
        std::snprintf(field, sizeof field, "%04X:", line_address);
        out += field;
        for (unsigned k = 0; k < 16; ++k) {
            if (k == 8) {
                out += '-';
            } else if (k % 2 == 0) {
                out += ' ';
            }
            const std::size_t index = line * 16 + k;
            if (line_address + k < first || index >= words.size()) {
                out += "    ";
            } else {
                std::snprintf(field, sizeof field, "%04x", static_cast<unsigned>(words[index]));
                out += field;
            }
        }
        out += '\n';
    }
    return out;
}

}  // namespace dspmon
