#include "recognition/barcode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "recognition/code128.h"
#include "recognition/testkit/code128_encoder.h"

namespace recognition {
namespace {

using testkit::BarRendering;
using testkit::CodeSet;

// Start, data and stop with the correct check symbol inserted before the stop.
std::vector<int> with_check(std::vector<int> symbols) {
    int sum = symbols[0];
    for (std::size_t j = 1; j < symbols.size(); ++j) sum += static_cast<int>(j) * symbols[j];
    symbols.push_back(sum % 103);
    symbols.push_back(kCode128Stop);
    return symbols;
}

std::vector<std::int32_t> samples_of(const std::vector<int>& symbols, BarRendering r = {}) {
    return testkit::render_bar_samples(testkit::code128_modules(symbols), r);
}

BarcodeResult decode(const std::vector<std::int32_t>& samples,
                     DecoderVariant variant = DecoderVariant::sheetsim) {
    return decode_code128(samples, variant);
}

TEST(Decoder, StartCTwelveThirtyFourCheck82) {
    const std::vector<int> symbols{105, 12, 34, 82, 106};
    for (const bool reversed : {false, true}) {
        BarRendering r;
        r.reversed = reversed;
        const BarcodeResult result = decode(samples_of(symbols, r));
        EXPECT_EQ(result.code, bar_result::kDecoded) << "reversed " << reversed;
        EXPECT_EQ(result.text, "1234");
    }
}

struct TextCase {
    const char* name;
    std::vector<int> data;  // after the start symbol
    int start;
    std::string text;
};

TEST(Decoder, CodeSetsAndSwitches) {
    const TextCase cases[] = {
        {"set C with FNC1", {12, kCode128Fnc1, 34}, kCode128StartC, "1234"},
        {"set C to B", {12, kCode128CodeB, 33}, kCode128StartC, "12A"},
        {"set C to A", {7, kCode128CodeA, 16}, kCode128StartC, "070"},
        {"set B to C", {33, kCode128CodeC, 99}, kCode128StartB, "A99"},
        {"set A", {33, 0, 63}, kCode128StartA, "A _"},
        {"A and B alike", {kCode128CodeB}, kCode128StartA, std::string(1, char(132))},
    };
    for (const TextCase& c : cases) {
        std::vector<int> symbols{c.start};
        symbols.insert(symbols.end(), c.data.begin(), c.data.end());
        const BarcodeResult result = decode(samples_of(with_check(symbols)));
        EXPECT_EQ(result.code, bar_result::kDecoded) << c.name;
        EXPECT_EQ(result.text, c.text) << c.name;
    }
}

TEST(Decoder, FailuresAreResultCodes) {
    auto check_failed = with_check({105, 12, 34});
    check_failed[3] = 81;
    const BarcodeResult mismatch = decode(samples_of(check_failed));
    EXPECT_EQ(mismatch.code, bar_result::kCheckMismatch);
    EXPECT_EQ(mismatch.text, "1234") << "the text is still produced";

    const BarcodeResult no_start = decode(samples_of(with_check({12, 34})));
    EXPECT_EQ(no_start.code, bar_result::kNoStart);
    EXPECT_EQ(no_start.text, "");

    // The stop left out: the last symbol (the check) stands where the stop should.
    // The last symbol, 23, has a 1-module fourth element like the stop: the scan reads forward.
    auto modules = testkit::code128_modules(std::vector<int>{105, 12, 34, 23});
    modules.push_back(2);
    const BarcodeResult no_stop = decode(testkit::render_bar_samples(modules, {}));
    EXPECT_EQ(no_stop.code, bar_result::kNoStop);

    // 1 1 1 1 3 4: eleven modules but an odd bar sum, no symbol has it.
    auto bad = testkit::code128_modules(with_check({105, 12, 34}));
    std::copy_n(std::vector<int>{1, 1, 1, 1, 3, 4}.begin(), 6, bad.begin() + 6);
    EXPECT_EQ(decode(testkit::render_bar_samples(bad, {})).code, bar_result::kUnknownPattern);

    const std::vector<std::int32_t> blank(300, 10);
    EXPECT_EQ(decode(blank).code, bar_result::kNoSymbols);
    EXPECT_EQ(decode({}).code, bar_result::kNoSymbols);
}

TEST(Decoder, MapgenReportsAnEmptyRun) {
    std::ostringstream out;
    const std::vector<std::int32_t> blank(300, 10);
    EXPECT_EQ(decode_code128(blank, DecoderVariant::mapgen, &out).code, bar_result::kNoSymbols);
    EXPECT_EQ(out.str(), "bad_bar_data\n");
    EXPECT_EQ(decode_code128(blank, DecoderVariant::barsim, &out).code, bar_result::kNoSymbols);
    EXPECT_EQ(out.str(), "bad_bar_data\n") << "only the map generator prints";
}

TEST(Decoder, StrayBarsBeforeAndAfterAWideGapAreDropped) {
    auto modules = testkit::code128_modules(with_check({104, 33, 34}));
    // A 2-module bar, then a 12-module gap, before the start; the same after the stop.
    modules.insert(modules.begin(), {2, 12});
    modules.insert(modules.end(), {12, 2});
    for (const bool reversed : {false, true}) {
        BarRendering r;
        r.reversed = reversed;
        const BarcodeResult result = decode(testkit::render_bar_samples(modules, r));
        EXPECT_EQ(result.code, bar_result::kDecoded) << "reversed " << reversed;
        EXPECT_EQ(result.text, "AB");
    }
}

TEST(Decoder, ThresholdHalfRangeDiffersBetweenVariants) {
    // Bars at 46 over spaces at 39: half range 4. The sheet simulator cuts at 42; the
    // others hold the half range at 7, cut at 39, and never see a space.
    BarRendering r;
    r.bar_darkness = 46;
    r.space_darkness = 39;
    const auto samples = samples_of(with_check({105, 12, 34}), r);
    EXPECT_EQ(decode(samples, DecoderVariant::sheetsim).code, bar_result::kDecoded);
    EXPECT_EQ(decode(samples, DecoderVariant::barsim).code, bar_result::kNoSymbols);

    // No bar of 40 or more keeps the weakest bar at 55: with spaces at 5 the cut is at 40,
    // which bars of 39 never reach.
    r.bar_darkness = 39;
    r.space_darkness = 5;
    EXPECT_EQ(decode(samples_of(with_check({105, 12, 34}), r)).code, bar_result::kNoSymbols);
}

TEST(Decoder, StaysInsideItsStores) {
    // Only the first 500 samples are read: a barcode after them is not seen.
    auto late = samples_of(with_check({105, 12, 34}));
    std::vector<std::int32_t> padded(520, 5);
    padded.insert(padded.end(), late.begin(), late.end());
    EXPECT_EQ(decode(padded).code, bar_result::kNoSymbols);

    std::vector<std::int32_t> early = late;
    early.resize(700, 5);
    for (std::size_t i = 520; i < 700; i += 4) early[i] = 60;  // junk beyond the store
    EXPECT_EQ(decode(early).text, "1234");

    // A long barcode has more than 100 edges: the list is cut and the decode fails cleanly.
    BarRendering dense;
    dense.samples_per_module = 1.2;
    dense.quiet_samples = 62;
    const auto many =
        samples_of(testkit::code128_symbols("ABCDEFGHIJKLMNOPQRSTUV", CodeSet::B), dense);
    ASSERT_LE(many.size(), 500u);
    const int code = decode(many).code;
    EXPECT_TRUE(code == bar_result::kUnknownPattern || code == bar_result::kNoStop) << code;

    // Extreme values do not overflow the edge arithmetic.
    std::vector<std::int32_t> extreme(200, INT32_MAX);
    for (std::size_t i = 0; i < extreme.size(); i += 3) extreme[i] = INT32_MIN;
    EXPECT_NE(decode(extreme).code, bar_result::kDecoded);
}

// Round trips through the encoder: decode rate per code set, scale, blur and noise, over
// both directions, random phases and noise seeds.
TEST(Decoder, RoundTripRates) {
    struct Condition {
        double blur;
        double noise;
        double minimum_rate;
    };
    // Noise of 2 steps on the bars makes local minima inside them that the threshold search
    // takes for the darkest space; those rows are reported and only checked as a whole.
    const Condition conditions[] = {{0, 0, 0.95},   {0.5, 0, 0.95}, {0.8, 0, 0.95},
                                    {1.0, 0, 0.95}, {0, 1, 0.85},   {0.5, 1, 0.85},
                                    {1.0, 1, 0.85}, {0.5, 2, 0},    {0.8, 2, 0}};
    const double scales[] = {2.5, 3.0, 3.3, 4.0, 5.0};
    struct SetCase {
        const char* name;
        CodeSet set;
        const char* text;
    };
    const SetCase sets[] = {
        {"A", CodeSet::A, "Z9#"}, {"B", CodeSet::B, "az~"}, {"C", CodeSet::C, "907142"}};
    constexpr int kTrials = 40;

    int stress_trials = 0;
    int stress_decoded = 0;
    std::printf("decode rate (%d trials each, half reversed)\n", kTrials);
    std::printf("set  blur noise |");
    for (double scale : scales) std::printf("  %4.1f", scale);
    std::printf("  samples per module\n");
    for (const SetCase& set : sets) {
        const auto symbols = testkit::code128_symbols(set.text, set.set);
        for (const Condition& c : conditions) {
            std::printf("%-4s %4.1f %5.1f |", set.name, c.blur, c.noise);
            for (double scale : scales) {
                int decoded = 0;
                for (int trial = 0; trial < kTrials; ++trial) {
                    BarRendering r;
                    r.samples_per_module = scale;
                    r.blur = c.blur;
                    r.noise = c.noise;
                    r.phase = (trial % 10) / 10.0;
                    r.reversed = trial % 2 == 1;
                    r.seed = static_cast<std::uint32_t>(trial + 1);
                    const BarcodeResult result = decode(samples_of(symbols, r));
                    if (result.code == bar_result::kDecoded && result.text == set.text) ++decoded;
                }
                const double rate = static_cast<double>(decoded) / kTrials;
                if (c.minimum_rate == 0) {
                    stress_trials += kTrials;
                    stress_decoded += decoded;
                }
                std::printf("  %3.0f%%", 100 * rate);
                EXPECT_GE(rate, c.minimum_rate) << "set " << set.name << " scale " << scale
                                                << " blur " << c.blur << " noise " << c.noise;
            }
            std::printf("\n");
        }
    }
    EXPECT_GE(stress_decoded, stress_trials / 4);
}

}  // namespace
}  // namespace recognition
