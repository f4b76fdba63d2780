#include "sheetsim.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "recognition/barcode.h"
#include "recognition/file_io.h"
#include "recognition/mark_cut.h"
#include "recognition/parameter_file.h"
#include "recognition/raw_page.h"
#include "recognition/result_line.h"
#include "tool_support.h"

namespace zerik::tools {
namespace {

using recognition::RawLine;

// Pixels across the middle of the sheet that tell paper from the dark backing.
constexpr std::size_t kProbeFirst = 764;
constexpr std::size_t kProbeLast = 963;
constexpr int kFewPixels = 9;
constexpr int kPaperStartAfter = 9;  // lines 0..9 never start the paper
constexpr int kPaperEndFrom = 1000;  // the paper end is not looked for earlier
constexpr int kPaperEndLines = 9;    // lines without paper that end the sheet
constexpr std::uint8_t kPaperLight = 200;
constexpr std::uint8_t kBackingDark = 20;
constexpr std::uint8_t kMarker = 255;
constexpr int kBarcodeEventFlag = 255;
constexpr std::size_t kFileBuffer = 1 << 16;  // fewer system calls on pages of megabytes

// Everything one run over a raw page keeps from line to line.
class SheetSimulator {
  public:
    SheetSimulator(const recognition::ParameterFile& parameters,
                   const recognition::ShadingTable& shading, bool markers)
        : parameters_(parameters),
          bar_(parameters.bar),
          shading_(shading),
          markers_(markers),
          cut_(recognition::CutVariant::sheetsim, parameters.column_count()) {}

    // Prepares line y, writes its result record and runs the cut and the barcode report.
    void processLine(RawLine& line, int y, std::FILE* out) {
        prepareLine(line, y, out);
        const int avail = y + 1;
        if (cut_.state().err == 0) cut_.run(avail, std::cout);
        if (bar_.type != 0 && cut_.ended()) reportBarcode();
    }

  private:
    int countProbe(const RawLine& line, bool dark, std::uint8_t limit) const {
        int count = 0;
        for (std::size_t x = kProbeFirst; x <= kProbeLast; ++x) {
            if (dark ? line[x] < limit : line[x] > limit) ++count;
        }
        return count;
    }

    void findPaper(const RawLine& line, int y) {
        if (y > kPaperStartAfter && paperStart_ == 0 &&
            countProbe(line, true, kPaperLight) < kFewPixels) {
            paperStart_ = y;
        }
        if (y >= kPaperEndFrom && endCount_ < kPaperEndLines) {
            if (countProbe(line, false, kBackingDark) < kFewPixels) {
                ++endCount_;
            } else {
                endCount_ = 0;
            }
            if (endCount_ == kPaperEndLines) {
                // The next line the cut examines reads as the end of the mark data.
                cut_.set_darkness(cut_.state().cur + 1, 0, recognition::kEndOfMarks);
                markers_ = false;
            }
        }
    }

    void sampleColumns(const RawLine& line, int y, recognition::ResultLine& result) {
        const int n = parameters_.column_count();
        result.column_count = static_cast<std::uint8_t>(n);
        for (int k = 0; k < n; ++k) {
            const std::size_t p = static_cast<std::size_t>(parameters_.positions[k]);
            const int sum = line[p - 1] + line[p] + line[p + 1];
            const auto v = static_cast<std::uint8_t>(63 - ((sum * 10) >> 7));
            result.darkness[k] = v;
        }
        cut_.store_line(y, std::span(result.darkness).first(static_cast<std::size_t>(n)));
    }

    // The event the cut or the barcode report left for this line; taking it clears it.
    void takeEvent(recognition::ResultLine& result) {
        auto& res = cut_.state().res;
        const int flag = res[0];
        if (flag == 0) return;
        if (flag == kBarcodeEventFlag) {
            recognition::BarcodeEvent event;
            event.err = static_cast<std::uint8_t>(cut_.state().err);
            event.shift = static_cast<std::uint8_t>(cut_.state().shift);
            event.result = static_cast<std::uint8_t>(barResult_);
            event.text = barText_;
            result.event = std::move(event);
        } else {
            recognition::RowEvent event;
            event.row = static_cast<std::uint8_t>(flag);
            for (int c = 1; c < parameters_.column_count(); ++c) {
                event.codes.push_back(static_cast<std::uint8_t>(res[c]));
            }
            result.event = std::move(event);
        }
        res[0] = 0;
    }

    void sampleBarcode(RawLine& line, int y) {
        if (paperStart_ == 0 || bar_.type == 0 || barCount_ >= bar_.length) return;
        const int first = paperStart_ + bar_.y;
        if (bar_.type == 1 && y == first) {
            for (int x = bar_.x; x < bar_.x + bar_.length; ++x) {
                barSamples_[barCount_++] = 63 - line[x] / 4;
                if (markers_) line[x] = kMarker;
            }
        } else if (bar_.type == 2 && y >= first) {
            barSamples_[barCount_++] = 63 - line[bar_.x] / 4;
            if (markers_) line[bar_.x] = kMarker;
        }
    }

    void prepareLine(RawLine& line, int y, std::FILE* out) {
        recognition::apply_shading(shading_, line);
        findPaper(line, y);
        recognition::ResultLine result;
        sampleColumns(line, y, result);
        takeEvent(result);
        sampleBarcode(line, y);
        if (markers_ && paperStart_ != 0) {
            for (std::int16_t p : parameters_.positions) line[p] = kMarker;
        }
        std::copy_n(line.begin(), result.header.size(), result.header.begin());
        recognition::pack_half_image(line, y % 2, result.image);
        const recognition::ResultRecord record = recognition::encode_result_line(result);
        std::fwrite(record.data(), 1, record.size(), out);
    }

    void reportBarcode() {
        // Samples never collected read as 0.
        const recognition::BarcodeResult decoded = recognition::decode_code128(
            std::span<const std::int32_t>(barSamples_.data(), bar_.length),
            recognition::DecoderVariant::sheetsim);
        barResult_ = decoded.code;
        barText_ = decoded.text.substr(0, recognition::kMaxEventText);
        std::printf("& %d %d_%d: ", barResult_, bar_.x, bar_.y);
        for (char c : barText_) std::printf("%c", c);
        std::printf("\n");
        cut_.state().res[0] = kBarcodeEventFlag;
        bar_.type = 0;
    }

    const recognition::ParameterFile& parameters_;
    recognition::BarSampling bar_;
    const recognition::ShadingTable& shading_;
    bool markers_;
    recognition::MarkCut cut_;
    int paperStart_ = 0;
    int endCount_ = 0;
    std::array<std::int32_t, recognition::kMaxBarSamples> barSamples_{};
    int barCount_ = 0;
    int barResult_ = 0;
    std::string barText_;
};

void printUsage() {
    printEach({"\n\t*** Simulating tallon scanning a sheet ****\n",
               "\n\tUsage: sheetsim 01.prt [!]\n", "\n\tneed c5502.par support",
               "\n\tinclude:", "\n\tn41 p1 p2 ....", "\n\tbarT barX barY barL\n",
               "\n\t! make marker at outfile j*.prt\n", "\n\tafter run prtview\n\n"});
}

std::optional<recognition::ParameterFile> loadParameters() {
    const auto text = recognition::read_binary_file("c5502.par");
    if (!text) {
        std::printf("\n\tc5502.par not found!\n");
        return std::nullopt;
    }
    recognition::ParameterParse parse = recognition::parse_parameter_file(
        std::string_view(reinterpret_cast<const char*>(text->data()), text->size()));
    if (!parse.parameters) {
        std::printf("\n\tc5502.par refused: %s\n", parse.error.c_str());
        return std::nullopt;
    }
    const recognition::ParameterFile& parameters = *parse.parameters;
    std::printf("c5502.par\n%d ", parameters.column_count());
    for (std::int16_t p : parameters.positions) std::printf("%d ", p);
    std::printf("\n%d %d %d %d\n", parameters.bar.type, parameters.bar.x, parameters.bar.y,
                parameters.bar.length);
    return parse.parameters;
}

}  // namespace

int sheetsimMain(int argc, const char* const* argv) {
    if (argc < 2) {
        printUsage();
        return 0;
    }
    const std::optional<recognition::ParameterFile> parameters = loadParameters();
    if (!parameters) return 0;
    const auto shadingFile = recognition::read_binary_file("red.tbl");
    if (!shadingFile) {
        reportNotFound("red.tbl");
        return 0;
    }
    const recognition::ShadingTable shading = recognition::parse_shading_table(*shadingFile);

    const std::string inputName = argv[1];
    FilePtr in = openFile(inputName, "rb");
    if (!in) {
        reportNotFound(inputName);
        return 0;
    }
    const std::string outputName = resultFileName(inputName);
    if (outputName == inputName) {
        // Creating the result file would wipe out the page before it is read.
        std::printf("%s would overwrite the input!\n", outputName.c_str());
        return 0;
    }
    FilePtr out = openFile(outputName, "wb");
    if (!out) {
        reportNotCreated(outputName);
        return 0;
    }
    std::setvbuf(in.get(), nullptr, _IOFBF, kFileBuffer);
    std::setvbuf(out.get(), nullptr, _IOFBF, kFileBuffer);

    SheetSimulator simulator(*parameters, shading, argc > 2);
    RawLine line{};
    for (int y = 0; std::fread(line.data(), 1, line.size(), in.get()) == line.size(); ++y) {
        simulator.processLine(line, y, out.get());
    }
    in.reset();
    out.reset();
    std::printf("%s produced!\n", outputName.c_str());
    return 0;
}

}  // namespace zerik::tools
