// mapgen: reruns the mark cut on the column table "1.41", writes the mark map 001.map and
// searches the marked rows for barcodes printed down a column.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "recognition/barcode.h"
#include "recognition/file_io.h"
#include "recognition/map_file.h"
#include "recognition/mark_cut.h"
#include "tool_support.h"

namespace {

constexpr int kPass = 1;
constexpr int kMaxFch = 98;  // (98 - 2) * 2048 / 41 lies beyond the table's 3000 lines
constexpr int kRunToLastRowLines = 350;
constexpr int kShortestRunLines = 150;
constexpr int kMarginLines = 30;
constexpr int kClearedNeighbours = 3;

// Looks for vertical runs of well-filled marks and decodes each long one as a barcode.
class BarcodeSearch {
  public:
    explicit BarcodeSearch(recognition::MarkCut& cut)
        : cut_(cut), map_(cut.mark_map()), rows_(cut.state().row), columns_(cut.state().n) {}

    std::vector<recognition::MapBarcodeEntry> run() {
        clearLoneMarks();
        for (int r = 2; r <= rows_ - 3; ++r) {
            for (int c = 1; c <= columns_ - 2; ++c) {
                if (map_[r][c] != 0) examineRun(c, r);
            }
        }
        return std::move(entries_);
    }

  private:
    void clearLoneMarks() {
        for (int r = 2; r <= rows_ - 2; ++r) {
            for (int c = 1; c <= columns_ - 1; ++c) {
                if (map_[r][c] != 0 && map_[r - 1][c] == 0 && map_[r + 1][c] == 0) map_[r][c] = 0;
            }
        }
    }

    void examineRun(int c, int r) {
        int y = r;
        for (; y < rows_; ++y) {
            map_[y][c - 1] = 0;
            if (map_[y][c] == 0) break;
            map_[y][c] = 0;
        }
        const int s = cut_.row_centre(r);
        int e = s + kRunToLastRowLines;
        if (y != rows_) {
            e = cut_.row_centre(y);
            if (e - s < kShortestRunLines) return;
        }
        const std::vector<std::int32_t> samples =
            cut_.column_samples(c, s - kMarginLines, e + kMarginLines - 1);
        const recognition::BarcodeResult decoded =
            recognition::decode_code128(samples, recognition::DecoderVariant::mapgen, &std::cout);
        if (decoded.code != 0 && decoded.code != 4) return;
        entries_.push_back({static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(c),
                            decoded.text, static_cast<std::uint8_t>(decoded.code)});
        for (int k = c + 1; k <= std::min(c + kClearedNeighbours, columns_ - 1); ++k) {
            for (int row = r; row < y; ++row) map_[row][k] = 0;
        }
    }

    recognition::MarkCut& cut_;
    recognition::MarkMap& map_;
    const int rows_;
    const int columns_;
    std::vector<recognition::MapBarcodeEntry> entries_;
};

}  // namespace

int main() {
    const auto columnFile = recognition::read_binary_file("1.41");
    if (!columnFile) {
        zerik::tools::reportNotFound("1.41");
        return 0;
    }
    recognition::MarkCut cut(recognition::CutVariant::mapgen, recognition::kMaxColumns);
    cut.load_table(*columnFile);
    cut.start_pass();
    for (int fch = 0; fch <= kMaxFch; ++fch) {
        if (cut.run_pass(fch, kPass, std::cout) == recognition::CutProgress::ended) break;
    }

    std::vector<recognition::MapBarcodeEntry> entries = BarcodeSearch(cut).run();
    entries.resize(recognition::map_entries_that_fit(entries));
    std::vector<std::uint8_t> map = cut.map_bytes();
    recognition::append_map_barcode(map, entries);

    char mapName[16];
    std::snprintf(mapName, sizeof mapName, "%03d.map", kPass);
    std::cout.flush();
    std::printf("&");
    for (const recognition::MapBarcodeEntry& entry : entries) {
        std::printf("    %d_%d: ", entry.column, entry.row);
        for (char ch : entry.text) std::printf("%c", ch);
        std::printf(" %d", entry.result);
    }
    std::printf("\n\n");
    if (!recognition::write_binary_file(mapName, map)) zerik::tools::reportNotCreated(mapName);
    return 0;
}
