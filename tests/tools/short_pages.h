// Short result-line pages for the replay tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recognition/result_line.h"
#include "recognition/testkit/test_sheet.h"

namespace zerik::tools::testing {

std::vector<std::uint8_t> shortRecord(const recognition::ShortResultLine& line);
// A line of n columns, all of one darkness.
recognition::ShortResultLine columnLine(int n, std::uint8_t darkness);
// A bar-sample line carrying the samples.
recognition::ShortResultLine barLine(const std::vector<std::uint8_t>& samples);
void append(std::vector<std::uint8_t>& page, const std::vector<std::uint8_t>& record);

// A sheet with filled marks where (row + column) is a multiple of 3 and row 5 filled across.
recognition::testkit::TestSheet markedSheet(recognition::testkit::SheetLayout layout);
// The short page of a sheet, followed by enough end rows for the cut to reach the first.
std::vector<std::uint8_t> markPage(const recognition::testkit::TestSheet& sheet);

// Lines of a listing that start with a row number ("%02d: ").
std::vector<std::string> rowLines(const std::string& output);

}  // namespace zerik::tools::testing
