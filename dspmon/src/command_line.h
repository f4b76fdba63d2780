// The console's line syntax: the argument check of e and f, hexadecimal
// numbers, the help text and the layout of a memory dump.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dspmon {

// Longest command line the console takes.
constexpr std::size_t kMaxLineLength = 255;

// Words per dump and the value list of e.
constexpr std::size_t kDumpWords = 128;
constexpr std::size_t kMaxEnterValues = 16;

extern const char kHelpText[];
extern const char kEnterUsage[];
extern const char kFillUsage[];

// Checks the argument text of e and f and rewrites it in place: everything
// up to and including the first colon and every comma become spaces. Returns
// the number of tokens, or -1 when a character or a token over four
// characters is refused.
int CheckArguments(std::string& text);

// Reads hexadecimal numbers from the start of `text` one after the other,
// each after optional blanks, with an optional sign and 0x prefix, and stops
// at the first place that does not hold one (or after `limit` numbers).
std::vector<uint32_t> ParseHexNumbers(const std::string& text, std::size_t limit);

// The dump of `words` (128 words from `base`, a multiple of 16): the heading
// and eight lines of sixteen words; words below `first` are left blank.
std::string FormatDump(int dsp, uint16_t base, uint16_t first, std::span<const uint16_t> words);

}  // namespace dspmon
