#include "recognition/barcode.h"

#include <algorithm>
#include <vector>

#include "print.h"
#include "recognition/code128.h"

namespace recognition {
namespace {

using Wide = std::int64_t;

constexpr Wide kWeakestBarStart = 55;
constexpr Wide kBarFloor = 40;
constexpr std::size_t kSpaceSearchMargin = 60;
constexpr std::size_t kMapgenTailSkipped = 10;
constexpr Wide kNominalTenthsPerModule = 33;
constexpr Wide kWideGapModules = 8;

Wide threshold(std::span<const std::int32_t> s, DecoderVariant variant) {
    const std::size_t count = s.size();
    const std::size_t searched = variant == DecoderVariant::mapgen
                                     ? (count > kMapgenTailSkipped ? count - kMapgenTailSkipped : 0)
                                     : count;
    Wide lo = kWeakestBarStart;
    // The first and the last sample have no neighbour outside the run: never a local maximum.
    for (std::size_t i = 1; i < searched && i + 1 < count; ++i) {
        if (s[i] >= kBarFloor && s[i] >= s[i - 1] && s[i] >= s[i + 1] && s[i] < lo) lo = s[i];
    }
    Wide hi = 0;
    for (std::size_t i = kSpaceSearchMargin; i + kSpaceSearchMargin < count; ++i) {
        if (s[i] < lo && s[i] <= s[i - 1] && s[i] <= s[i + 1] && s[i] > hi) hi = s[i];
    }
    Wide half = std::min<Wide>((lo - hi + 1) / 2, 15);
    if (variant != DecoderVariant::sheetsim) half = std::max<Wide>(half, 7);
    return lo - half;
}

// Crossing of t between samples i-1 and i, in tenths of a sample.
Wide edge_at(std::span<const std::int32_t> s, std::size_t i, Wide t) {
    const auto tenths = static_cast<Wide>(10 * i);
    if (i == 0 || s[i] == s[i - 1]) return tenths;
    return tenths - (s[i] - t) * 10 / (static_cast<Wide>(s[i]) - s[i - 1]);
}

std::vector<Wide> find_edges(std::span<const std::int32_t> s, Wide t) {
    std::vector<Wide> edges;
    int state = 0;
    for (std::size_t i = 0; i < s.size() && edges.size() < kMaxEdges; ++i) {
        if (state == 0) {
            if (s[i] >= t) {
                edges.push_back(edge_at(s, i, t));
                state = 1;
            }
        } else if (state == 1) {
            if (s[i] < t) {
                edges.push_back(edge_at(s, i, t));
                state = 2;
            }
        } else if (s[i] > t) {
            edges.push_back(edge_at(s, i, t));
            state = 1;
        }
    }
    return edges;
}

}  // namespace

BarcodeResult decode_code128(std::span<const std::int32_t> samples, DecoderVariant variant,
                             std::ostream* out) {
    using namespace bar_result;
    BarcodeResult result;
    const auto s = samples.first(std::min(samples.size(), kMaxDecodeSamples));

    std::vector<Wide> e = find_edges(s, threshold(s, variant));
    const Wide m = static_cast<Wide>(e.size()) - 1;
    auto module_width = [&](Wide i) { return (e[i] - e[i - 1] + 17) / kNominalTenthsPerModule; };
    Wide start = 0;
    Wide end = m;
    if (m - 1 >= 2 && module_width(2) > kWideGapModules) start = 2;
    if (end - 1 >= 1 && module_width(end - 1) > kWideGapModules) end -= 2;

    const Wide nsym = end > start ? (end - start) / 6 : 0;
    if (nsym == 0) {
        if (variant == DecoderVariant::mapgen && out != nullptr) print_to(*out, "bad_bar_data\n");
        result.code = kNoSymbols;
        return result;
    }
    const Wide unit = (e[start + 6 * nsym] - e[start]) / (11 * nsym);

    // Thin elements are widened at both edges at the cost of their neighbours.
    for (Wide i = start + 1; i <= end; ++i) {
        const Wide w = e[i] - e[i - 1];
        if (w < unit * 3 / 4) {
            const Wide d = (unit - w) / 2;
            e[i] += d;
            e[i - 1] -= d;
        }
    }

    const auto nv = static_cast<std::size_t>(end - start);
    std::vector<Wide> v(nv);
    for (std::size_t j = 0; j < nv; ++j) {
        v[j] = e[static_cast<std::size_t>(start) + j + 1] - e[static_cast<std::size_t>(start) + j];
    }
    // Read from the stop end: the stop's fourth element is narrower than any start's.
    if (v[3] < v[nv - 4]) std::reverse(v.begin(), v.end());

    // Each group of six elements is normalised to eleven modules. A group whose module
    // width comes out as 0 cannot be read: its elements become 1, which no symbol has.
    for (std::size_t i = 0; i + 1 < nv; i += 6) {
        const std::size_t group_end = std::min(i + 6, nv);
        Wide sum = 0;
        for (std::size_t k = i; k < group_end; ++k) sum += v[k];
        const Wide u = (sum + unit / 2) / 11;
        for (std::size_t k = i; k < group_end; ++k) {
            v[k] = u > 0 ? std::clamp<Wide>((v[k] + u / 2) / u, 1, 4) : 1;
        }
    }

    // The last group holds the stop's final bar and is left out.
    const std::size_t groups = (nv + 5) / 6;
    const std::size_t ns = groups - 1;
    std::vector<int> value(ns);
    for (std::size_t g = 0; g < ns; ++g) {
        Code128Widths widths{};
        for (std::size_t k = 0; k < widths.size(); ++k) {
            widths[k] = static_cast<std::uint8_t>(v[6 * g + k]);
        }
        value[g] = code128_value(code128_pack(widths));
        if (value[g] < 0) {
            result.code = kUnknownPattern;
            return result;
        }
    }

    if (ns == 0 || value[0] < kCode128StartA || value[0] > kCode128StartC) {
        result.code = kNoStart;
        return result;
    }
    int set = value[0] - 102;
    const std::size_t last = ns - 1;
    if (value[last] != kCode128Stop) {
        result.code = kNoStop;
        return result;
    }

    int sum = value[0];
    for (std::size_t j = 1; j + 2 <= last; ++j) sum += static_cast<int>(j) * value[j];
    result.code = sum % 103 != value[last - 1] ? kCheckMismatch : kDecoded;

    for (std::size_t j = 1; j + 2 <= last; ++j) {
        const int symbol = value[j];
        if (set == 3) {
            if (symbol == kCode128Fnc1) continue;
            if (symbol >= kCode128CodeB) {
                set = 2;
            } else {
                result.text.push_back(static_cast<char>('0' + symbol / 10));
                result.text.push_back(static_cast<char>('0' + symbol % 10));
            }
        } else if (symbol == kCode128CodeC) {
            set = 3;
        } else {
            result.text.push_back(static_cast<char>(symbol + 32));
        }
    }
    return result;
}

}  // namespace recognition
