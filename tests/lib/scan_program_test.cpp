// A scan against the zerik_sim program: its --sheet option feeds the page,
// and printer and LCD texts appear on its console.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "sim_fixture.h"
#include "zerik_dll.h"

namespace zerik::test {
namespace {

struct Pages {
    std::mutex mutex;
    std::vector<uint32_t> widths;
    std::vector<std::vector<uint8_t>> data;
};

ZkGlobalHandle Allocate(uint32_t* size, void*) {
    return ZkGlobalAlloc(ZK_GHND, *size);
}

int Keep(PageRecord* record, void* user) {
    auto* pages = static_cast<Pages*>(user);
    const auto* block = static_cast<const uint8_t*>(ZkGlobalLock(record->Memory));
    uint32_t width = 0;
    uint32_t size = 0;
    std::memcpy(&width, block + 4, 4);
    std::memcpy(&size, block + 20, 4);
    std::vector<uint8_t> data(block + 1064, block + 1064 + size);
    ZkGlobalUnlock(record->Memory);
    ZkGlobalFree(record->Memory);
    std::lock_guard<std::mutex> lock(pages->mutex);
    pages->widths.push_back(width);
    pages->data.push_back(std::move(data));
    return 0;
}

class ScanProgram : public SimFixture {};

TEST_F(ScanProgram, FeedsTheSheetFileAndShowsTexts) {
    std::vector<uint8_t> sheet(120 * 1728);
    for (std::size_t i = 0; i < sheet.size(); ++i) {
        sheet[i] = static_cast<uint8_t>((i / 1728) * 3 + (i % 1728) / 9);
    }
    const std::string sheet_path = dir() + "/sheet.raw";
    std::ofstream(sheet_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(sheet.data()),
               static_cast<std::streamsize>(sheet.size()));
    const std::string console = dir() + "/console.txt";
    SimProgram sim({"--dir", dir(), "--number", "0", "--sheet", sheet_path}, console);
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir() + "/ZERIK-0"); }));

    DeviceContext* dev = Zerik_OpenDevice(nullptr);
    ASSERT_NE(dev, nullptr);
    Pages pages;
    EXPECT_EQ(Zerik_SetScanParams(dev, 1, 200, 0, 0, 0x02), 0);
    EXPECT_EQ(Zerik_SetPageRcvHandler(dev, Keep, &pages, Allocate, nullptr), 0);
    EXPECT_EQ(Zerik_StartScan(dev), 0);
    EXPECT_TRUE(WaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(pages.mutex);
            return !pages.data.empty();
        },
        std::chrono::milliseconds(60000)));
    EXPECT_EQ(Zerik_PrinterCtrl(dev, 1, "PAGE 1 OK"), 0);
    EXPECT_EQ(Zerik_LcdCtrl(dev, 2, "READY"), 0);
    Zerik_CloseDevice(dev);

    {
        std::lock_guard<std::mutex> lock(pages.mutex);
        ASSERT_EQ(pages.data.size(), 1u);
        EXPECT_EQ(pages.widths[0], 1728u);
        EXPECT_EQ(pages.data[0], std::vector<uint8_t>(sheet.begin(), sheet.end() - 3 * 1728));
    }
    EXPECT_TRUE(WaitFor([&] {
        const std::string shown = ReadFile(console);
        return shown.find("zerik_sim: printer: PAGE 1 OK\n") != std::string::npos &&
               shown.find("zerik_sim: lcd 2: READY\n") != std::string::npos;
    })) << ReadFile(console);
}

}  // namespace
}  // namespace zerik::test
