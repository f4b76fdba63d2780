// Writes the files a test sheet gives the tools into a scratch directory.
#pragma once

#include <string>

#include "recognition/testkit/test_sheet.h"
#include "tool_runner.h"

namespace zerik::tools::testing {

// The raw page under `pageName`, "c5502.par" and "red.tbl".
void writeSheetFiles(const ScratchDir& dir, const recognition::testkit::TestSheet& sheet,
                     const std::string& pageName = "01.prt");

// Module widths of a Code 128 barcode of the text, start set B.
std::vector<int> barcodeModules(const std::string& text);

}  // namespace zerik::tools::testing
