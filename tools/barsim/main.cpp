// barsim: decodes the barcode carried by the bar-sample line of a short result-line page.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "recognition/barcode.h"
#include "recognition/byte_order.h"
#include "recognition/parameter_file.h"
#include "recognition/result_line.h"
#include "tool_support.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        zerik::tools::printEach(
            {"\n\t*** Simulating tallon of bar ****\n", "\n\tUsage: barsim 002.prt\n"});
        return 0;
    }
    const std::string pageName = argv[1];
    zerik::tools::FilePtr page = zerik::tools::openFile(pageName, "rb");
    if (!page) {
        zerik::tools::reportNotFound(pageName);
        return 0;
    }
    recognition::ShortResultRecord record{};
    int lineNumber = 0;
    for (;;) {
        const std::size_t got = std::fread(record.data(), 1, record.size(), page.get());
        ++lineNumber;
        if (got < record.size()) {
            std::printf("no bar data!!\n");
            return 0;
        }
        if (record[recognition::result_offset::kEventBody] == recognition::kEventMarker) break;
    }
    page.reset();

    const recognition::ShortResultLine line = recognition::decode_short_result_line(record);
    const unsigned declared =
        recognition::load_u16le(record, recognition::result_offset::kBarSampleCount);
    std::printf("line: %d  length: %u  ", lineNumber, declared);
    if (declared > static_cast<unsigned>(recognition::kMaxBarSamples)) {
        // The decoder holds at most 500 samples.
        std::printf("more than %d samples!!\n", recognition::kMaxBarSamples);
        return 0;
    }
    std::vector<std::int32_t> samples(line.bar_samples.begin(), line.bar_samples.end());
    const recognition::BarcodeResult decoded =
        recognition::decode_code128(samples, recognition::DecoderVariant::barsim);
    std::printf("& %d : ", decoded.code);
    for (char c : decoded.text) std::printf("%c", c);
    std::printf("\n");
    return 0;
}
