#include "sheet_files.h"

#include "recognition/parameter_file.h"
#include "recognition/raw_page.h"
#include "recognition/testkit/code128_encoder.h"

namespace zerik::tools::testing {

void writeSheetFiles(const ScratchDir& dir, const recognition::testkit::TestSheet& sheet,
                     const std::string& pageName) {
    dir.write(pageName, sheet.raw_page_file());
    dir.writeText("c5502.par", recognition::format_parameter_file(sheet.parameters()));
    dir.write("red.tbl", recognition::serialize_shading_table(sheet.shading()));
}

std::vector<int> barcodeModules(const std::string& text) {
    return recognition::testkit::code128_modules(
        recognition::testkit::code128_symbols(text, recognition::testkit::CodeSet::B));
}

}  // namespace zerik::tools::testing
