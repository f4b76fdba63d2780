#include "short_pages.h"

#include <cctype>
#include <sstream>

namespace zerik::tools::testing {

std::vector<std::uint8_t> shortRecord(const recognition::ShortResultLine& line) {
    const auto record = recognition::encode_short_result_line(line);
    return {record.begin(), record.end()};
}

recognition::ShortResultLine columnLine(int n, std::uint8_t darkness) {
    recognition::ShortResultLine line;
    line.column_count = static_cast<std::int8_t>(n);
    line.darkness.fill(darkness);
    return line;
}

recognition::ShortResultLine barLine(const std::vector<std::uint8_t>& samples) {
    recognition::ShortResultLine line = columnLine(7, 6);
    line.bar_sample_line = true;
    line.bar_samples = samples;
    return line;
}

void append(std::vector<std::uint8_t>& page, const std::vector<std::uint8_t>& record) {
    page.insert(page.end(), record.begin(), record.end());
}

recognition::testkit::TestSheet markedSheet(recognition::testkit::SheetLayout layout) {
    recognition::testkit::TestSheet sheet(std::move(layout));
    for (int row = 1; row <= sheet.layout().rows; ++row) {
        for (int column = 1; column < sheet.column_count(); ++column) {
            if ((row + column) % 3 == 0 || row == 5) sheet.add_mark(row, column);
        }
    }
    return sheet;
}

std::vector<std::uint8_t> markPage(const recognition::testkit::TestSheet& sheet) {
    std::vector<std::uint8_t> page = sheet.short_result_page();
    const std::vector<std::uint8_t> endRow(page.end() - recognition::kShortResultLineBytes,
                                           page.end());
    for (int i = 0; i < 30; ++i) append(page, endRow);
    return page;
}

std::vector<std::string> rowLines(const std::string& output) {
    std::vector<std::string> rows;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
            std::isdigit(static_cast<unsigned char>(line[1])) && line.compare(2, 2, ": ") == 0) {
            rows.push_back(line);
        }
    }
    return rows;
}

}  // namespace zerik::tools::testing
