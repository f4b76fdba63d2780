// marksim: runs the mark cut over the column darkness values of a short result-line page.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <span>
#include <string>

#include "recognition/mark_cut.h"
#include "recognition/parameter_file.h"
#include "recognition/result_line.h"
#include "tool_support.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        zerik::tools::printEach(
            {"\n\t*** Simulating tallon of cut ****\n", "\n\tUsage: marksim 001.prt\n"});
        return 0;
    }
    const std::string pageName = argv[1];
    zerik::tools::FilePtr page = zerik::tools::openFile(pageName, "rb");
    if (!page) {
        zerik::tools::reportNotFound(pageName);
        return 0;
    }
    recognition::MarkCut cut(recognition::CutVariant::marksim, recognition::kMaxColumns);
    recognition::ShortResultRecord record{};
    int fch = 0;
    while (std::fread(record.data(), 1, record.size(), page.get()) == record.size()) {
        const auto n = static_cast<std::int8_t>(record[recognition::result_offset::kColumnCount]);
        if (n > recognition::kMaxColumns) {
            std::cout.flush();
            std::printf("%s: line %d has %d columns, at most %d!\n", pageName.c_str(), fch, n,
                        recognition::kMaxColumns);
            return 0;
        }
        const int columns = std::max<int>(n, 0);
        // Columns the line does not carry keep what the ring slot held.
        cut.store_line(fch, std::span(record).subspan(recognition::result_offset::kDarkness,
                                                      static_cast<std::size_t>(columns)));
        cut.set_column_count(columns);
        ++fch;
        if (cut.state().err == 0) cut.run(fch, std::cout);
    }
    return 0;
}
