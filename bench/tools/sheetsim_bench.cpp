// sheetsim on a 3000-line answer sheet, measured against the I/O floor: reading the same page
// and writing a file of the same size as the result-line file, in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "recognition/parameter_file.h"
#include "recognition/raw_page.h"
#include "recognition/result_line.h"
#include "recognition/testkit/code128_encoder.h"
#include "recognition/testkit/test_sheet.h"
#include "sheetsim.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Wall and CPU seconds of one measured stretch; CPU time keeps its meaning on a busy machine.
struct Stopwatch {
    Clock::time_point wallStart = Clock::now();
    std::clock_t cpuStart = std::clock();

    double wall() const { return std::chrono::duration<double>(Clock::now() - wallStart).count(); }
    double cpu() const { return static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC; }
};

struct Timing {
    double wall = 0;
    double cpu = 0;
};

constexpr int kPageLines = 3000;

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// An answer sheet of 3000 lines: 30 mark columns, 78 rows with a few marks each, and a
// barcode across the top that the parameter file samples.
recognition::testkit::TestSheet answerSheet() {
    recognition::testkit::SheetLayout layout;
    layout.lead_lines = 40;
    layout.top_margin = 150;
    layout.rows = 78;
    layout.row_pitch = 34;
    layout.mark_lines = 14;
    layout.column_x.clear();
    for (int c = 0; c < 30; ++c) layout.column_x.push_back(200 + 48 * c);
    layout.trail_lines = 30;
    layout.noise = 3;
    const int used = layout.lead_lines + layout.top_margin + (layout.rows - 1) * layout.row_pitch +
                     layout.mark_lines + layout.trail_lines;
    layout.bottom_margin = kPageLines - used;
    recognition::testkit::TestSheet sheet(layout);
    for (int row = 1; row <= layout.rows; ++row) {
        for (int column = 1 + row % 5; column <= 30; column += 5) sheet.add_mark(row, column);
    }
    const std::vector<int> symbols =
        recognition::testkit::code128_symbols("ZK2026-0042", recognition::testkit::CodeSet::B);
    const std::vector<int> modules = recognition::testkit::code128_modules(symbols);
    sheet.add_horizontal_barcode(layout.lead_lines + 40, 700, modules, 3.3, 60, 500);
    return sheet;
}

// A scratch directory holding the page and its two support files; the current directory
// while it lives, since sheetsim works with fixed names.
class Workspace {
  public:
    Workspace() : previous_(fs::current_path()) {
        std::string pattern = (fs::temp_directory_path() / "sheetsim_bench_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        const recognition::testkit::TestSheet sheet = answerSheet();
        writeBytes(path_ / "01.prt", sheet.raw_page_file());
        writeBytes(path_ / "red.tbl", recognition::serialize_shading_table(sheet.shading()));
        std::ofstream(path_ / "c5502.par")
            << recognition::format_parameter_file(sheet.parameters());
        lines_ = sheet.line_count();
        fs::current_path(path_);
    }
    ~Workspace() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
        fs::remove_all(path_, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    int lines() const { return lines_; }

  private:
    fs::path previous_;
    fs::path path_;
    int lines_ = 0;
};

// Sends the tool's listing to /dev/null while it runs; the benchmark's own report stays.
class QuietStdout {
  public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout() {
        std::cout.flush();
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

  private:
    int saved_ = -1;
};

// Reads the page line by line and writes one result-sized record per line: what any tool
// that turns this page into a result-line file cannot avoid.
Timing ioFloor() {
    const Stopwatch watch;
    std::FILE* in = std::fopen("01.prt", "rb");
    std::FILE* out = std::fopen("floor.out", "wb");
    if (in == nullptr || out == nullptr) throw std::runtime_error("floor files");
    std::setvbuf(in, nullptr, _IOFBF, 1 << 16);
    std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
    recognition::RawLine line{};
    std::array<std::uint8_t, recognition::kResultLineBytes> record{};
    while (std::fread(line.data(), 1, line.size(), in) == line.size()) {
        record[0] = line[0];  // touch the input so the read is not idle
        std::fwrite(record.data(), 1, record.size(), out);
    }
    std::fclose(in);
    std::fclose(out);
    return {watch.wall(), watch.cpu()};
}

void BM_SheetsimAgainstIoFloor(benchmark::State& state) {
    const Workspace workspace;
    const char* const argv[] = {"sheetsim", "01.prt"};
    Timing sheetsim;
    Timing floor;
    for (auto _ : state) {
        Timing run;
        {
            const QuietStdout quiet;
            const Stopwatch watch;
            zerik::tools::sheetsimMain(2, argv);
            run = {watch.wall(), watch.cpu()};
        }
        state.SetIterationTime(run.wall);
        sheetsim.wall += run.wall;
        sheetsim.cpu += run.cpu;
        const Timing io = ioFloor();
        floor.wall += io.wall;
        floor.cpu += io.cpu;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["lines"] = workspace.lines();
    state.counters["sheetsim_ms"] = 1000 * sheetsim.wall / iterations;
    state.counters["io_floor_ms"] = 1000 * floor.wall / iterations;
    state.counters["ratio"] = sheetsim.wall / floor.wall;
    state.counters["ratio_cpu"] = sheetsim.cpu / floor.cpu;
}

BENCHMARK(BM_SheetsimAgainstIoFloor)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
