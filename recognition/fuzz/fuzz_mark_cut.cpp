// The mark cut on arbitrary column tables. Byte 0 picks the variant and the table form,
// byte 1 the column count. The table is either the raw bytes (41 per line) or built from
// (value, run length) pairs for the timing column, which reaches timing marks, merged marks
// and pitch corrections far more often.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

#include "recognition/barcode.h"
#include "recognition/mark_cut.h"
#include "recognition/result_line.h"

using namespace recognition;

namespace {

std::vector<std::uint8_t> build_table(const std::uint8_t* data, std::size_t size, bool runs) {
    std::vector<std::uint8_t> table;
    if (!runs) return {data, data + size};
    std::size_t mark_byte = 0;
    for (std::size_t i = 0; i + 1 < size && table.size() < kTableLines * kMaxColumns; i += 2) {
        const std::uint8_t value = data[i] % 72;
        const int length = 1 + data[i + 1] % 48;
        for (int k = 0; k < length; ++k) {
            table.push_back(value);
            for (int c = 1; c < kMaxColumns; ++c) {
                table.push_back(static_cast<std::uint8_t>(data[mark_byte++ % size] % 64));
            }
        }
    }
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const auto variant = static_cast<CutVariant>(data[0] % 3);
    const bool runs = (data[0] & 0x10) != 0;
    const int n = data[1] % 45;
    const std::vector<std::uint8_t> table = build_table(data + 2, size - 2, runs);
    std::ostringstream out;

    MarkCut cut(variant, n);
    if (variant == CutVariant::mapgen) {
        cut.load_table(table);
        cut.start_pass();
        for (int fch = 0; fch <= 98 && !cut.ended(); ++fch) cut.run_pass(fch, 1, out);
        const int rows = cut.state().row;
        for (int r = 1; r + 1 < rows && r + 1 < kMapRows; ++r) {
            const int s = cut.row_centre(r);
            const int e = cut.row_centre(r + 1);
            if (e - s > 0 && e - s < 1000) {
                decode_code128(cut.column_samples(1 + r % 40, s - 30, e + 29),
                               DecoderVariant::mapgen, &out);
            }
        }
        return 0;
    }
    const std::size_t lines = table.size() / kMaxColumns;
    for (std::size_t y = 0; y < lines && cut.state().err == 0; ++y) {
        const std::span<const std::uint8_t> line(table.data() + y * kMaxColumns, kMaxColumns);
        if (variant == CutVariant::marksim)
            cut.set_column_count(static_cast<std::int8_t>(line[40]));
        cut.store_line(static_cast<int>(y), line);
        cut.run(static_cast<int>(y) + 1, out);
    }
    return 0;
}
