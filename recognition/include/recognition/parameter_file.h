// The parameter file "c5502.par": column positions and the barcode sampling area.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace recognition {

inline constexpr int kMaxColumns = 41;
inline constexpr int kMaxBarSamples = 500;

enum class BarSamplingType : std::int16_t { none = 0, horizontal = 1, vertical = 2 };

// barT barX barY barL: type 1 takes barL pixels from barX on the line barY lines after the
// paper start; type 2 takes pixel barX from each of barL lines starting barY lines after it.
struct BarSampling {
    std::int16_t type = 0;
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t length = 0;
};

struct ParameterFile {
    // Pixel position of column 0 (the timing column), 1, ... in the raw line.
    std::vector<std::int16_t> positions;
    BarSampling bar;

    int column_count() const { return static_cast<int>(positions.size()); }
};

struct ParameterParse {
    std::optional<ParameterFile> parameters;
    std::string error;  // why the text was refused; empty when parameters holds a value
};

// Reads the text as the device tools do: lines of at most 79 characters (a longer line
// continues as the next one), one decimal value per line for the count and the positions,
// four values on the barcode line. Refuses values that would make the tools read outside a
// line or a store: a count outside 1..41, a position outside 1..1726, a barcode type
// other than 0..2, a sample count outside 0..500 or a sampling area outside the line.
// A file that ends after the positions has no barcode area (type 0).
ParameterParse parse_parameter_file(std::string_view text);

std::string format_parameter_file(const ParameterFile& parameters);

}  // namespace recognition
