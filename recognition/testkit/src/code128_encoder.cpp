#include "recognition/testkit/code128_encoder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>
#include <stdexcept>

#include "recognition/code128.h"

namespace recognition::testkit {
namespace {

bool is_digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::size_t digit_run(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && is_digit(text[end])) ++end;
    return end - from;
}

}  // namespace

std::vector<int> code128_symbols(std::string_view text, CodeSet start) {
    static constexpr int kStart[] = {kCode128StartA, kCode128StartB, kCode128StartC};
    std::vector<int> symbols{kStart[static_cast<int>(start)]};
    CodeSet set = start;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (set == CodeSet::C) {
            if (i + 1 < text.size() && is_digit(text[i]) && is_digit(text[i + 1])) {
                symbols.push_back((text[i] - '0') * 10 + (text[i + 1] - '0'));
                i += 2;
            } else {
                symbols.push_back(kCode128CodeB);
                set = CodeSet::B;
            }
            continue;
        }
        const std::size_t digits = digit_run(text, i);
        if (digits >= 4 && digits % 2 == 0) {
            symbols.push_back(kCode128CodeC);
            set = CodeSet::C;
            continue;
        }
        const unsigned char highest = set == CodeSet::A ? 95 : 127;
        if (c < 32 || c > highest) throw std::invalid_argument("character not in the code set");
        symbols.push_back(c - 32);
        ++i;
    }
    int sum = symbols[0];
    for (std::size_t j = 1; j < symbols.size(); ++j) sum += static_cast<int>(j) * symbols[j];
    symbols.push_back(sum % 103);
    symbols.push_back(kCode128Stop);
    return symbols;
}

std::vector<int> code128_modules(std::span<const int> symbols) {
    std::vector<int> modules;
    for (int value : symbols) {
        for (std::uint8_t w : code128_widths(value)) modules.push_back(w);
        if (value == kCode128Stop) modules.push_back(kCode128StopFinalBar);
    }
    return modules;
}

std::vector<std::int32_t> render_bar_samples(std::span<const int> modules, const BarRendering& r) {
    int total_modules = 0;
    for (int m : modules) total_modules += m;
    const double code_samples = total_modules * r.samples_per_module;
    const auto count =
        static_cast<std::size_t>(std::ceil(2 * r.quiet_samples + r.phase + code_samples));

    // Bar intervals in sample coordinates.
    std::vector<std::pair<double, double>> bars;
    double at = r.quiet_samples + r.phase;
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const double end = at + modules[i] * r.samples_per_module;
        if (i % 2 == 0) bars.emplace_back(at, end);
        at = end;
    }

    std::vector<double> cover(count, 0.0);
    for (const auto& [from, to] : bars) {
        for (auto i = static_cast<std::size_t>(std::floor(from));
             i < count && static_cast<double>(i) < to; ++i) {
            const double lo = std::max(from, static_cast<double>(i));
            const double hi = std::min(to, static_cast<double>(i + 1));
            if (hi > lo) cover[i] += hi - lo;
        }
    }

    if (r.blur > 0) {
        const int reach = static_cast<int>(std::ceil(3 * r.blur));
        std::vector<double> kernel;
        double weight = 0;
        for (int k = -reach; k <= reach; ++k) {
            kernel.push_back(std::exp(-0.5 * k * k / (r.blur * r.blur)));
            weight += kernel.back();
        }
        std::vector<double> blurred(count, 0.0);
        for (std::size_t i = 0; i < count; ++i) {
            for (int k = -reach; k <= reach; ++k) {
                const auto j = static_cast<std::ptrdiff_t>(i) + k;
                if (j >= 0 && j < static_cast<std::ptrdiff_t>(count)) {
                    blurred[i] += kernel[static_cast<std::size_t>(k + reach)] *
                                  cover[static_cast<std::size_t>(j)];
                }
            }
            blurred[i] /= weight;
        }
        cover = std::move(blurred);
    }

    std::mt19937 random(r.seed);
    std::normal_distribution<double> noise(0.0, r.noise > 0 ? r.noise : 1.0);
    std::vector<std::int32_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        double v = r.space_darkness + (r.bar_darkness - r.space_darkness) * cover[i];
        if (r.noise > 0) v += noise(random);
        samples[i] = std::clamp(static_cast<std::int32_t>(std::lround(v)), 0, 63);
    }
    if (r.reversed) std::reverse(samples.begin(), samples.end());
    return samples;
}

}  // namespace recognition::testkit
