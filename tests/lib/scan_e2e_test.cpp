// A whole scan through the public interface: open, set up, register the
// page handler, start, and the page the handler receives; and the
// normalisation action from start to its end reported by the device.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "sim_fixture.h"
#include "zerik_dll.h"

namespace zerik::test {
namespace {

constexpr uint32_t kHeaderBytes = 1064;

struct Received {
    std::mutex mutex;
    std::vector<PageRecord> records;
    std::vector<uint32_t> widths;
    std::vector<std::vector<uint8_t>> pages;
};

ZkGlobalHandle Allocate(uint32_t* size, void*) {
    return ZkGlobalAlloc(ZK_GHND, *size);
}

int TakePage(PageRecord* record, void* user) {
    auto* received = static_cast<Received*>(user);
    const auto* block = static_cast<const uint8_t*>(ZkGlobalLock(record->Memory));
    uint32_t width = 0;
    uint32_t image_size = 0;
    std::memcpy(&width, block + 4, 4);
    std::memcpy(&image_size, block + 20, 4);
    std::vector<uint8_t> data(block + kHeaderBytes, block + kHeaderBytes + image_size);
    ZkGlobalUnlock(record->Memory);
    ZkGlobalFree(record->Memory);
    std::lock_guard<std::mutex> lock(received->mutex);
    received->records.push_back(*record);
    received->widths.push_back(width);
    received->pages.push_back(std::move(data));
    return 0;
}

// Generous: sanitizer builds stream and assemble pages many times slower.
constexpr std::chrono::milliseconds kPatience(60000);

class WholeScan : public SimFixture {
  protected:
    void TearDown() override {
        if (dev_ != nullptr) Zerik_CloseDevice(dev_);
        SimFixture::TearDown();
    }

    std::vector<uint8_t> WriteSheet(const std::string& name, std::size_t lines) {
        std::vector<uint8_t> bytes(lines * 1728);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            // A value per line and column that no page marker can come out of.
            bytes[i] = static_cast<uint8_t>((i / 1728) * 5 + (i % 1728) / 7);
        }
        std::ofstream(dir() + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }

    DeviceContext* dev_ = nullptr;
};

TEST_F(WholeScan, HandlerReceivesTheSheetLessThreeLines) {
    const std::vector<uint8_t> first = WriteSheet("first.raw", 700);
    const std::vector<uint8_t> second = WriteSheet("second.raw", 41);
    StartSim(0, {"--sheet", dir() + "/first.raw", "--sheet", dir() + "/second.raw"});
    dev_ = Zerik_OpenDevice(nullptr);
    ASSERT_NE(dev_, nullptr);

    Received received;
    ASSERT_EQ(Zerik_SetScanParams(dev_, 1, 200, 0, 0, 0x01), 0);
    ASSERT_EQ(Zerik_SetPageRcvHandler(dev_, TakePage, &received, Allocate, nullptr), 0);
    for (int sheet = 0; sheet < 2; ++sheet) {
        ASSERT_EQ(Zerik_StartScan(dev_), 0);
        ASSERT_TRUE(WaitFor(
            [&] {
                std::lock_guard<std::mutex> lock(received.mutex);
                return received.pages.size() == static_cast<std::size_t>(sheet + 1);
            },
            kPatience));
    }

    std::lock_guard<std::mutex> lock(received.mutex);
    const std::vector<uint8_t>* sheets[] = {&first, &second};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received.widths[i], 1728u);
        EXPECT_EQ(received.records[i].PageNo, i + 1);
        EXPECT_EQ(received.records[i].Dpi, 200u);
        EXPECT_EQ(received.records[i].Layer, 1u);
        const std::vector<uint8_t> expected(sheets[i]->begin(), sheets[i]->end() - 3 * 1728);
        EXPECT_EQ(received.pages[i], expected);
    }
    ASSERT_TRUE(WaitFor(
        [&] {
            int32_t pages = 0;
            Zerik_GetRxPages(dev_, &pages);
            return pages == 2;
        },
        kPatience));
    const std::string log = Log();
    EXPECT_NE(log.find(Gbk("扫描开始 PageNo=1\n")), std::string::npos);
    EXPECT_NE(log.find(Gbk("扫描结束 PageNo=2 exps=")), std::string::npos);
}

TEST_F(WholeScan, NormalisationActionEndsWithTheDevicesReport) {
    sim::Simulator& sim = StartSim(0, {"--test-pattern"});
    dev_ = Zerik_OpenDevice(nullptr);
    ASSERT_NE(dev_, nullptr);
    int32_t success = -1;
    for (const bool dsp1_fails : {false, true}) {
        SCOPED_TRACE(dsp1_fails);
        if (dsp1_fails) {
            EXPECT_EQ(sim.Control("normfail 1"), "normfail 1");
        }
        ASSERT_EQ(Zerik_StartNormAction(dev_, 1, 0x01), 0);
        EXPECT_EQ(Zerik_NormStatusCheck(dev_, &success), 0);
        EXPECT_EQ(success, 0);
        ASSERT_EQ(Zerik_StartScan(dev_), 0);
        int32_t ended = 0;
        ASSERT_TRUE(WaitFor(
            [&] {
                ended = Zerik_NormStatusCheck(dev_, &success);
                return ended == 1;
            },
            kPatience));
        EXPECT_EQ(success, dsp1_fails ? 0 : 1);
        EXPECT_EQ(Zerik_NormStatusCheck(dev_, &success), 0);  // reported once
    }
    EXPECT_NE(Log().find("Zerik_StartNormAction layer=1 led=0x1\n"), std::string::npos);
}

}  // namespace
}  // namespace zerik::test
