// Page path speed, each beside its baseline in the same run:
//  - the page assembler on 32 KiB chunks (page data only, page data with a
//    marker in each chunk, and a stream of whole sheets with their page
//    buffers) against memcpy of the same bytes;
//  - the whole path from the simulated scanner's socket through a data
//    receiver, the assembler and the page thread to the application's
//    handler, against a plain loop that only reads the same socket.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "data_receiver.h"
#include "log.h"
#include "page_delivery.h"
#include "page_rig.h"
#include "page_stream.h"
#include "transport.h"

namespace {

using zerik::test::PageRig;
using zerik::test::PageSink;

constexpr uint32_t kChunk = 32768;
constexpr int kPagesPerRound = 4;
constexpr uint32_t kSheetLines = 2000;  // a page of 2000 lines at 200 dpi, 3.3 MiB

int Silent(const char* /*format*/, ...) {
    return 0;
}

std::vector<uint8_t> DataChunk() {
    std::vector<uint8_t> chunk(kChunk);
    for (uint32_t i = 0; i < kChunk; ++i) chunk[i] = zerik::sim::PageDataByte(1, i);
    return chunk;
}

// A folder for the device sockets and the log, removed at the end.
class BenchDir {
  public:
    BenchDir() {
        char pattern[] = "/tmp/zerik-bench-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
        setenv("ZERIK_DEVICE_DIR", path_.c_str(), 1);
        setenv("ZERIK_LOG", (path_ + "/zerik_dll.log").c_str(), 1);
        zerik::ReopenLogFile();
    }
    ~BenchDir() {
        zerik::ReopenLogFile();
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::unique_ptr<zerik::sim::Simulator> StartSimulator(const std::string& dir, int number) {
    std::string error;
    auto sim = std::make_unique<zerik::sim::Simulator>(zerik::sim::Options{dir, number},
                                                       zerik::sim::MakeScanner({}, &error));
    if (!sim->Start()) return nullptr;
    return sim;
}

bool WaitForLink(const zerik::sim::Simulator& sim) {
    for (int i = 0; i < 500 && sim.LinkCount() == 0; ++i) zerik::os::SleepMs(10);
    return sim.LinkCount() > 0;
}

void BM_MemcpyChunk(benchmark::State& state) {
    const std::vector<uint8_t> chunk = DataChunk();
    std::vector<uint8_t> page(zerik::kLayerCapacity);
    std::size_t offset = 0;
    for (auto _ : state) {
        std::memcpy(page.data() + offset, chunk.data(), kChunk);
        benchmark::ClobberMemory();
        offset += kChunk;
        if (offset + kChunk > page.size()) offset = 0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_MemcpyChunk);

// Page data into one open page; the page is rewound before it is full, so
// every word is copied.
void BM_AssembleDataChunk(benchmark::State& state) {
    PageRig rig(Silent);
    DeviceContext* dev = rig.dev();
    const auto start = zerik::sim::PageMarkerBytes(1, 1, 1, 200);
    std::vector<uint8_t> opening(start.begin(), start.end());
    opening.resize(opening.size() + 2);
    zerik::AssembleChunk(dev, 0, opening.data(), static_cast<uint32_t>(opening.size()));
    const std::vector<uint8_t> chunk = DataChunk();
    for (auto _ : state) {
        zerik::AssembleChunk(dev, 0, chunk.data(), kChunk);
        if (dev->PageBytes[0] + kChunk > dev->PageDataLimit[0]) dev->PageBytes[0] = 0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_AssembleDataChunk);

// Page data with a marker in every chunk: a repeated start of the open page
// at a position that moves from chunk to chunk, so each chunk is copied in
// two runs around a marker.
void BM_AssembleChunkWithMarkers(benchmark::State& state) {
    PageRig rig(Silent);
    DeviceContext* dev = rig.dev();
    const auto start = zerik::sim::PageMarkerBytes(1, 1, 1, 200);
    std::vector<uint8_t> opening(start.begin(), start.end());
    opening.resize(opening.size() + 2);
    zerik::AssembleChunk(dev, 0, opening.data(), static_cast<uint32_t>(opening.size()));
    std::vector<std::vector<uint8_t>> chunks;
    for (uint32_t i = 0; i < 16; ++i) {
        std::vector<uint8_t> chunk = DataChunk();
        const uint32_t at = (i * 2039u * 2u) % (kChunk - 64);
        std::memcpy(chunk.data() + at, start.data(), start.size());
        chunks.push_back(std::move(chunk));
    }
    std::size_t next = 0;
    for (auto _ : state) {
        zerik::AssembleChunk(dev, 0, chunks[next].data(), kChunk);
        next = (next + 1) % chunks.size();
        if (dev->PageBytes[0] + kChunk > dev->PageDataLimit[0]) dev->PageBytes[0] = 0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_AssembleChunkWithMarkers);

// Whole sheets of 2000 lines: the first chunk opens the page with its start
// marker, the last holds the end marker; each page buffer is allocated,
// finished, queued, then taken and freed as the page thread would.
void BM_AssemblePageStream(benchmark::State& state) {
    PageRig rig(Silent);
    DeviceContext* dev = rig.dev();
    zerik::sim::PageSpec plan;
    plan.data_bytes = kSheetLines * 1728;
    const std::vector<std::vector<uint8_t>> chunks = zerik::sim::PageTransfers(plan);
    std::size_t next = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& chunk = chunks[next];
        zerik::AssembleChunk(dev, 0, chunk.data(), static_cast<uint32_t>(chunk.size()));
        bytes += static_cast<int64_t>(chunk.size());
        if (++next == chunks.size()) {
            next = 0;
            for (const auto& record : dev->PageList) ZkGlobalFree(record->Memory);
            dev->PageList.clear();
        }
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_AssemblePageStream);

// Socket to handler: rounds of four pages on data pipe 0.
void BM_WholePathToHandler(benchmark::State& state) {
    BenchDir dir;
    auto sim = StartSimulator(dir.path(), 10);
    PageRig rig(zerik::LibraryLog);
    PageSink sink;
    sink.CheckData(false);
    if (!sim || !rig.Connect(10) || !WaitForLink(*sim)) {
        state.SkipWithError("no simulated scanner");
        return;
    }
    Zerik_SetPageRcvHandler(rig.dev(), PageSink::Handle, &sink, PageSink::Allocate, nullptr);
    rig.StartDataReceivers();
    rig.StartPageThread();
    zerik::sim::PageSpec plan;
    plan.data_bytes = kSheetLines * 1728;
    plan.events = false;
    const auto transfers = zerik::sim::PageTransfers(plan);
    std::size_t delivered = 0;
    for (auto _ : state) {
        for (int i = 0; i < kPagesPerRound; ++i) zerik::sim::SendPage(*sim, plan, transfers);
        delivered += kPagesPerRound;
        if (!sink.WaitForPages(delivered)) {
            state.SkipWithError("pages lost");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPagesPerRound *
                            (plan.data_bytes + 2 * zerik::kMarkerSize + plan.trailer_bytes));
    rig.Stop();
}
BENCHMARK(BM_WholePathToHandler)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same rounds read by a loop that only counts the bytes.
void BM_PlainReadLoop(benchmark::State& state) {
    BenchDir dir;
    auto sim = StartSimulator(dir.path(), 11);
    const zerik::driver::DeviceRef device = zerik::driver::OpenDevice(11);
    if (!sim || !device || !WaitForLink(*sim)) {
        state.SkipWithError("no simulated scanner");
        return;
    }
    std::mutex mutex;
    std::condition_variable cond;
    uint64_t received = 0;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::vector<uint8_t> buffer(kChunk);
        while (!stop.load()) {
            uint32_t length = kChunk;
            if (!zerik::PipeRead(device.get(), 2, buffer.data(), &length, 100)) continue;
            {
                std::lock_guard<std::mutex> lock(mutex);
                received += length;
            }
            cond.notify_all();
        }
    });
    zerik::sim::PageSpec plan;
    plan.data_bytes = kSheetLines * 1728;
    plan.events = false;
    const auto transfers = zerik::sim::PageTransfers(plan);
    const uint64_t page_bytes = plan.data_bytes + 2 * zerik::kMarkerSize + plan.trailer_bytes;
    uint64_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kPagesPerRound; ++i) zerik::sim::SendPage(*sim, plan, transfers);
        expected += kPagesPerRound * page_bytes;
        std::unique_lock<std::mutex> lock(mutex);
        cond.wait(lock, [&] { return received >= expected; });
    }
    stop.store(true);
    reader.join();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPagesPerRound *
                            static_cast<int64_t>(page_bytes));
}
BENCHMARK(BM_PlainReadLoop)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
