// The answer sheet the simulated scanner feeds when it is given no page file: a form
// (answer_form.h) rendered as the device's raw page, paper against the dark backing of the
// scanner, slightly skewed, with the files the console and the offline tools need to read it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "answer_form.h"
#include "recognition/parameter_file.h"

namespace zerik::sim {

struct RenderedSheet {
    std::vector<std::uint8_t> page;  // raw lines of 1728 bytes: 16-byte header, pixels
    int lines = 0;
    int paper_start = 0;  // first line the reader takes as paper
    recognition::ParameterFile parameters;
};

// Renders the form. Raw line header: bytes 0..1 line number and 2..3 line length (both
// little-endian), bit 0 of byte 6 the line number's parity, the rest 0.
bool RenderAnswerSheet(const Form& form, RenderedSheet* sheet, std::string* error);

// Writes into dir (created when missing) what a run of the console and the offline tools
// on this sheet needs, and what it should read:
//   c5502.par             column positions and barcode area, for sheetsim
//   red.tbl, blue.tbl     neutral shading (offset 0, gain 16), for the console and sheetsim
//   posi.asc, stop.asc    column positions and stop values, for the console
//   form.txt              the form itself (edit it and pass it back with --form)
//   sheet.raw             the page as rendered
//   expected.txt          the marks and the barcode text the reader should find
bool WriteDemoFiles(const Form& form, std::string_view form_text, const RenderedSheet& sheet,
                    const std::string& dir, std::string* error);

// The expected reading as written to expected.txt: "NN: " and one character per mark column
// (ExpectedRows) for every row, then "& " and the barcode text when the form has one.
std::string ExpectedListing(const Form& form);

// The scanner's options for its answer sheet (--form FILE, --write-demo-files DIR) and the
// rendered page, made once on first use. Safe to call from several threads.
class AnswerSheetOptions {
  public:
    AnswerSheetOptions();

    // Takes the option at args[0] when it is one of these: the number of arguments used,
    // 0 when it is not, -1 with *error for a bad one. The demo files are (re)written when
    // either option is taken, so their order does not matter.
    int TakeOption(std::span<const std::string> args, std::string* error);
    static std::string Help();

    // The page the scanner feeds: raw lines of 1728 bytes.
    std::vector<std::uint8_t> Page();

  private:
    bool RenderLocked(std::string* error);

    std::mutex mutex_;
    std::string form_text_;
    Form form_;
    std::optional<RenderedSheet> rendered_;
    std::string demo_dir_;
};

}  // namespace zerik::sim
