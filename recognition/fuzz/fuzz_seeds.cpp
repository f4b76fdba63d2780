// Writes starting inputs for the fuzz targets: a marked sheet's column table for each cut
// variant, rendered barcodes for the decoder, and valid files for the readers.
#include <cstdio>
#include <filesystem>
#include <string>

#include "recognition/file_io.h"
#include "recognition/result_line.h"
#include "recognition/testkit/code128_encoder.h"
#include "recognition/testkit/test_sheet.h"

using namespace recognition;

namespace {

void write(const std::filesystem::path& dir, const std::string& name,
           const std::vector<std::uint8_t>& bytes) {
    std::filesystem::create_directories(dir);
    if (!write_binary_file((dir / name).string(), bytes)) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <directory>\n");
        return 1;
    }
    const std::filesystem::path root = argv[1];

    testkit::SheetLayout layout;
    layout.rows = 8;
    layout.edge_lines = 2;
    layout.skew = 8;
    testkit::TestSheet sheet(layout);
    sheet.join_timing_marks(5);
    for (int c = 1; c <= 6; ++c) sheet.add_mark(1 + c % 8, c, 20 + 6 * c);
    std::vector<std::uint8_t> table;
    for (const auto& row : sheet.column_values()) table.insert(table.end(), row.begin(), row.end());
    for (std::uint8_t variant = 0; variant < 3; ++variant) {
        std::vector<std::uint8_t> seed{variant, 7};
        seed.insert(seed.end(), table.begin(), table.end());
        write(root / "fuzz_mark_cut", "sheet" + std::to_string(variant), seed);
    }

    const auto modules =
        testkit::code128_modules(testkit::code128_symbols("12AB", testkit::CodeSet::C));
    for (std::uint8_t variant = 0; variant < 3; ++variant) {
        testkit::BarRendering r;
        r.blur = 0.6;
        r.reversed = variant == 1;
        std::vector<std::uint8_t> seed{variant};
        for (std::int32_t s : testkit::render_bar_samples(modules, r)) {
            seed.push_back(static_cast<std::uint8_t>(s));
        }
        write(root / "fuzz_decoder", "bars" + std::to_string(variant), seed);
    }

    const std::string par = format_parameter_file(sheet.parameters());
    write(root / "fuzz_page_files", "par", {par.begin(), par.end()});
    ResultLine line;
    line.column_count = 7;
    line.event = RowEvent{3, {1, 2, 0x3F}};
    const auto record = encode_result_line(line);
    write(root / "fuzz_page_files", "result", {record.begin(), record.end()});
    return 0;
}
