// Firmware load and flash programming speed. Every command waits for its
// reply, so a load of n bytes costs about n / 56 exchanges and a program of
// n bytes about n / 32: each is measured beside the bare exchange (one
// 28-word DSP write) as the baseline, and the parse of a real executable
// beside a plain copy of the file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "coff_writer.h"
#include "context.h"
#include "firmware_loader.h"
#include "flash.h"
#include "log.h"
#include "scanner.h"
#include "transport.h"

namespace {

int Silent(const char* /*format*/, ...) {
    return 0;
}

std::vector<uint8_t> RealExecutable() {
    const auto path = std::filesystem::path(ZERIK_SOURCE_DIR) / "tests" / "data" / "coff" /
                      "c55x_ezdsp5535_led.out";
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// A context linked to an in-process scanner with only its message receiver
// running; the folder of the socket and the log goes with it.
class Rig {
  public:
    Rig() {
        char pattern[] = "/tmp/zerik-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        dir_ = pattern;
        setenv("ZERIK_OBJECT_NAMESPACE", std::filesystem::path(dir_).filename().c_str(), 1);
        setenv("ZERIK_DEVICE_DIR", dir_.c_str(), 1);
        setenv("ZERIK_LOG", (dir_ + "/zerik_dll.log").c_str(), 1);
        zerik::ReopenLogFile();
        auto scanner = std::make_unique<zerik::sim::Scanner>();
        scanner_ = scanner.get();
        sim_ = std::make_unique<zerik::sim::Simulator>(zerik::sim::Options{dir_, 0},
                                                       std::move(scanner));
        if (!sim_->Start()) return;
        auto owned = std::make_unique<DeviceContext>();
        owned->Log = Silent;
        owned->MsgMutex = zerik::os::NamedMutex::Open("MsgMutex");
        owned->SetDriver(zerik::driver::OpenDevice(0));
        if (!owned->MsgMutex || !owned->Driver()) return;
        while (sim_->LinkCount() == 0) zerik::os::SleepMs(1);
        owned->Connected.store(1);
        owned->References.store(2);
        dev_ = owned.release();
        zerik::os::StartThread(zerik::MsgRcvThread, dev_, zerik::os::ThreadPriority::Normal);
    }
    ~Rig() {
        if (dev_ != nullptr) {
            dev_->MsgRxStop.store(1);
            while (dev_->MsgRxStop.load() != 0) zerik::os::SleepMs(1);
            zerik::ReleaseContext(dev_);
        }
        sim_.reset();
        zerik::ReopenLogFile();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    DeviceContext* dev() const { return dev_; }
    const std::string& dir() const { return dir_; }
    zerik::sim::Scanner& scanner() const { return *scanner_; }

  private:
    std::string dir_;
    std::unique_ptr<zerik::sim::Simulator> sim_;
    zerik::sim::Scanner* scanner_ = nullptr;
    DeviceContext* dev_ = nullptr;
};

void BM_CopyExecutable(benchmark::State& state) {
    const std::vector<uint8_t> file = RealExecutable();
    for (auto _ : state) {
        std::vector<uint8_t> copy(file);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_CopyExecutable);

void BM_ParseExecutable(benchmark::State& state) {
    const std::vector<uint8_t> file = RealExecutable();
    for (auto _ : state) {
        zerik::FirmwareImage image = zerik::ParseFirmware(file);
        benchmark::DoNotOptimize(image.sections.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_ParseExecutable);

void BM_DspWriteExchange(benchmark::State& state) {
    Rig rig;
    if (rig.dev() == nullptr) {
        state.SkipWithError("no simulated scanner");
        return;
    }
    uint16_t words[28] = {};
    for (auto _ : state) {
        if (Zerik_WriteDsp(rig.dev(), 0, 0x1000, 28, words) != 0)
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sizeof words));
}
BENCHMARK(BM_DspWriteExchange)->Unit(benchmark::kMicrosecond);

void BM_LoadExecutable(benchmark::State& state) {
    Rig rig;
    if (rig.dev() == nullptr) {
        state.SkipWithError("no simulated scanner");
        return;
    }
    const std::vector<uint8_t> file = RealExecutable();
    const std::string path = rig.dir() + "/fw.out";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    int64_t loaded = 0;
    for (const zerik::CoffSection& section : zerik::ParseFirmware(file).sections) {
        if (section.loaded()) loaded += section.size;
    }
    for (auto _ : state) {
        if (Zerik_LoadDspFW(rig.dev(), 1, path.c_str()) != 0) state.SkipWithError("load failed");
    }
    state.SetBytesProcessed(state.iterations() * loaded);
    state.counters["exchanges"] = static_cast<double>(rig.scanner().packets().size()) /
                                  static_cast<double>(state.iterations());
}
BENCHMARK(BM_LoadExecutable)->Unit(benchmark::kMillisecond);

void BM_ProgramGammaImage(benchmark::State& state) {
    Rig rig;
    if (rig.dev() == nullptr) {
        state.SkipWithError("no simulated scanner");
        return;
    }
    std::vector<uint8_t> image(zerik::kGammaImageBytes, 0xFF);
    for (auto _ : state) {
        if (Zerik_ProgramFlashBuffer(rig.dev(), zerik::kGammaImageAddress, image.data(),
                                     static_cast<uint32_t>(image.size())) != 0) {
            state.SkipWithError("program failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}
BENCHMARK(BM_ProgramGammaImage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
