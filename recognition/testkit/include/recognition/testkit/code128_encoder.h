// Code 128 test barcodes: text to symbols, symbols to module widths, widths to darkness
// samples at a chosen scale with blur, noise and reversal.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace recognition::testkit {

enum class CodeSet { A, B, C };

// Start symbol, data symbols, check symbol and stop. Set A takes characters 32..95, set B
// 32..127, set C digit pairs. Set C switches to B (symbol 100) for anything that is not a
// digit pair; sets A and B switch to C (symbol 99) before a run of four or more digits of
// even length. Throws std::invalid_argument for a character the start set cannot carry.
std::vector<int> code128_symbols(std::string_view text, CodeSet start);

// Element widths in modules, bar first: six per symbol, seven for the stop.
std::vector<int> code128_modules(std::span<const int> symbols);

struct BarRendering {
    double samples_per_module = 3.3;
    double quiet_samples = 70;  // light samples before the first and after the last bar
    double phase = 0;           // extra offset of the first bar, in samples
    int bar_darkness = 58;
    int space_darkness = 5;
    double blur = 0;        // Gaussian sigma of the optics, in samples
    double noise = 0;       // Gaussian sigma added to each sample, in darkness steps
    bool reversed = false;  // sampled from the stop end
    std::uint32_t seed = 1;
};

// Darkness samples (0..63) across the bars: each sample averages the bar cover of its
// width, then blur and noise are applied.
std::vector<std::int32_t> render_bar_samples(std::span<const int> modules,
                                             const BarRendering& rendering);

}  // namespace recognition::testkit
