// The decoder on arbitrary samples: first byte picks the variant and the sample width.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "recognition/barcode.h"

using namespace recognition;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto variant = static_cast<DecoderVariant>(data[0] % 3);
    const bool wide = (data[0] & 0x80) != 0;
    std::vector<std::int32_t> samples;
    if (wide) {
        for (std::size_t i = 1; i + 3 < size; i += 4) {
            samples.push_back(
                static_cast<std::int32_t>(static_cast<std::uint32_t>(data[i]) |
                                          (static_cast<std::uint32_t>(data[i + 1]) << 8) |
                                          (static_cast<std::uint32_t>(data[i + 2]) << 16) |
                                          (static_cast<std::uint32_t>(data[i + 3]) << 24)));
        }
    } else {
        for (std::size_t i = 1; i < size; ++i) {
            samples.push_back(variant == DecoderVariant::mapgen ? static_cast<std::int8_t>(data[i])
                                                                : data[i]);
        }
    }
    std::ostringstream out;
    const BarcodeResult result = decode_code128(samples, variant, &out);
    if (result.code < 0 || result.code > 5) std::abort();
    if (result.code != bar_result::kDecoded && result.code != bar_result::kCheckMismatch &&
        !result.text.empty()) {
        std::abort();
    }
    return 0;
}
