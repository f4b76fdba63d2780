// Code 128 decoding from a run of darkness samples taken straight across the bars.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>

namespace recognition {

enum class DecoderVariant {
    sheetsim,  // threshold half range at most 15
    barsim,    // threshold half range held within 7..15
    mapgen,    // as barsim, the weakest-bar search leaves out the last 10 samples, and an
               // empty run is reported with "bad_bar_data\n"
};

namespace bar_result {
inline constexpr int kDecoded = 0;
inline constexpr int kUnknownPattern = 1;
inline constexpr int kNoStart = 2;
inline constexpr int kNoStop = 3;
inline constexpr int kCheckMismatch = 4;
inline constexpr int kNoSymbols = 5;
}  // namespace bar_result

// The sample store and the edge list of the decoder.
inline constexpr std::size_t kMaxDecodeSamples = 500;
inline constexpr std::size_t kMaxEdges = 100;

struct BarcodeResult {
    int code = bar_result::kNoSymbols;
    std::string text;  // set for results 0 and 4 only
};

// Samples beyond the first 500 are not looked at, and crossings after the 100th edge are
// not recorded. The samples before the first and after the last count as darker than any
// sample (an end sample is never the weakest bar), and an edge in the first sample lies at
// its start. `out` receives the mapgen message; it may be null.
BarcodeResult decode_code128(std::span<const std::int32_t> samples, DecoderVariant variant,
                             std::ostream* out = nullptr);

}  // namespace recognition
