// Every file reader on arbitrary bytes; a readable parameter file must survive a rewrite.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "recognition/map_file.h"
#include "recognition/parameter_file.h"
#include "recognition/raw_page.h"
#include "recognition/result_line.h"

using namespace recognition;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);

    const auto parse =
        parse_parameter_file(std::string_view(reinterpret_cast<const char*>(data), size));
    if (parse.parameters) {
        const auto again = parse_parameter_file(format_parameter_file(*parse.parameters));
        if (!again.parameters || again.parameters->positions != parse.parameters->positions) {
            std::abort();
        }
    }

    const ShadingTable shading = parse_shading_table(bytes);
    for (RawLine& line : split_raw_lines(bytes)) apply_shading(shading, line);

    for (const ResultRecord& record : split_result_records(bytes)) {
        const ResultLine line = decode_result_line(record);
        const ResultRecord rewritten = encode_result_line(line);
        // Encoding keeps the image and the header whatever the event.
        if (!std::equal(record.begin(), record.begin() + 864, rewritten.begin())) std::abort();
        column_value_row(record);
    }
    for (const ShortResultRecord& record : split_short_result_records(bytes)) {
        encode_short_result_line(decode_short_result_line(record));
    }
    column_value_table(bytes);

    const MapFile map = parse_map_file(bytes);
    if (map.barcodes) {
        std::vector<std::uint8_t> out;
        append_map_barcode(out, *map.barcodes);
    }
    return 0;
}
