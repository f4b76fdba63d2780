// The simulated scanner's scan side on its own: page streaming, the sheet
// feed, table copies into DSP memory and the peripherals, against recording
// stand-ins for the host links and the rest of the device.
#include "scan_engine.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <vector>

namespace zerik::sim {
namespace {

constexpr std::array<uint8_t, 8> kMagic = {0x34, 0x12, 0xCB, 0xED, 0x78, 0x56, 0x87, 0xA9};

class RecordingHost : public Host {
  public:
    void Broadcast(std::span<const uint8_t> message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.emplace_back(message.begin(), message.end());
    }
    void BroadcastData(int index, std::span<const uint8_t> bytes) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            transfers_[index].emplace_back(bytes.begin(), bytes.end());
        }
        if (on_data) on_data();
    }
    // Runs after each data transfer is recorded, on the sending thread.
    std::function<void()> on_data;
    std::vector<std::vector<uint8_t>> messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::vector<std::vector<uint8_t>> transfers(int index) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = transfers_.find(index);
        return it == transfers_.end() ? std::vector<std::vector<uint8_t>>{} : it->second;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> messages_;
    std::map<int, std::vector<std::vector<uint8_t>>> transfers_;
};

uint16_t Le16(const std::vector<uint8_t>& bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// Checks that a page went out as one well-formed stream and returns its data.
std::vector<uint8_t> PageOf(const std::vector<std::vector<uint8_t>>& transfers, uint8_t* page_no,
                            uint8_t* layer, uint16_t* dpi) {
    std::vector<uint8_t> stream;
    std::vector<std::size_t> ends;  // offset where each transfer ends
    for (const auto& t : transfers) {
        EXPECT_LE(t.size(), 32768u);
        stream.insert(stream.end(), t.begin(), t.end());
        ends.push_back(stream.size());
    }
    EXPECT_GE(stream.size(), 34u);
    if (stream.size() < 34) return {};
    // A marker counts only inside one transfer with a word after it.
    auto marker_whole = [&](std::size_t at) {
        for (std::size_t end : ends) {
            if (at < end) return at + 16 + 2 <= end;
        }
        return false;
    };
    EXPECT_TRUE(std::equal(kMagic.begin(), kMagic.end(), stream.begin()));
    EXPECT_EQ(Le16(stream, 8), 1);
    EXPECT_TRUE(marker_whole(0));
    const std::size_t end_at = stream.size() - 18;
    EXPECT_TRUE(std::equal(kMagic.begin(), kMagic.end(), stream.begin() + end_at));
    EXPECT_EQ(Le16(stream, end_at + 8), 2);
    EXPECT_TRUE(marker_whole(end_at));
    *page_no = stream[10];
    *layer = stream[11];
    *dpi = Le16(stream, 12);
    EXPECT_EQ(stream[end_at + 10], *page_no);
    return std::vector<uint8_t>(stream.begin() + 16, stream.begin() + end_at);
}

TEST(SendSheetPage, MarkersNeverSpanTransfers) {
    for (std::size_t size :
         {0u, 2u, 1728u, 32750u, 32752u, 32754u, 32768u, 65500u, 65502u, 65536u, 100000u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> data(size);
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7);
        RecordingHost host;
        SendSheetPage(host, 1, 9, 2, 150, data, nullptr);
        EXPECT_TRUE(host.transfers(0).empty());
        uint8_t page_no = 0;
        uint8_t layer = 0;
        uint16_t dpi = 0;
        std::vector<uint8_t> got = PageOf(host.transfers(1), &page_no, &layer, &dpi);
        if (size == 0) {
            // An empty page carries one filler word after its start marker.
            EXPECT_EQ(got, std::vector<uint8_t>(2, 0));
        } else {
            EXPECT_EQ(got, data);
        }
        EXPECT_EQ(page_no, 9);
        EXPECT_EQ(layer, 2);
        EXPECT_EQ(dpi, 150);
    }
}

struct FakeParts {
    std::mutex mutex;
    std::map<uint16_t, uint8_t> registers;
    std::map<std::pair<int, uint16_t>, uint16_t> dsp;
    std::vector<uint8_t> flash = std::vector<uint8_t>(0x40000, 0xFF);
    int device_type = 0;
    std::vector<int> machine_states;

    DeviceParts Parts() {
        DeviceParts parts;
        parts.read_register = [this](uint16_t a) {
            std::lock_guard<std::mutex> lock(mutex);
            return registers[a];
        };
        parts.read_dsp = [this](int d, uint16_t w) {
            std::lock_guard<std::mutex> lock(mutex);
            return dsp[{d, w}];
        };
        parts.write_dsp = [this](int d, uint16_t w, uint16_t v) {
            std::lock_guard<std::mutex> lock(mutex);
            dsp[{d, w}] = v;
        };
        parts.read_flash = [this](uint32_t a, std::size_t n) {
            std::lock_guard<std::mutex> lock(mutex);
            std::vector<uint8_t> out(n, 0xFF);
            for (std::size_t i = 0; i < n && a + i < flash.size(); ++i) out[i] = flash[a + i];
            return out;
        };
        parts.set_device_type = [this](uint8_t type) {
            std::lock_guard<std::mutex> lock(mutex);
            device_type = type;
        };
        parts.set_machine_state = [this](uint8_t state) {
            std::lock_guard<std::mutex> lock(mutex);
            machine_states.push_back(state);
        };
        return parts;
    }
    uint16_t Dsp(int d, uint16_t w) {
        std::lock_guard<std::mutex> lock(mutex);
        return dsp[{d, w}];
    }
};

class ScanEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        engine_ = std::make_unique<ScanEngine>(parts_.Parts());
        engine_->Attach(&host_);
        dir_ = std::filesystem::temp_directory_path() /
               ("zerik-scan-engine-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        engine_.reset();
        std::filesystem::remove_all(dir_);
    }

    // Serves one packet and returns the reply.
    std::vector<uint8_t> Command(std::vector<uint8_t> packet) {
        Message reply{};
        EXPECT_TRUE(engine_->Handle(packet, &reply));
        return std::vector<uint8_t>(reply.begin(), reply.end());
    }

    std::string WriteSheet(const std::string& name, std::size_t lines, int seed) {
        std::vector<uint8_t> bytes(lines * 1728);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i / 1728 * 3 + i % 1728 + seed);
        }
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    std::vector<uint8_t> ReadSheet(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    FakeParts parts_;
    RecordingHost host_;
    std::unique_ptr<ScanEngine> engine_;
    std::filesystem::path dir_;
};

TEST_F(ScanEngineTest, StartFeedsTheGivenSheetsOneByOneThenReportsAnEmptyHopper) {
    const std::string first = WriteSheet("a.raw", 40, 0);
    const std::string second = WriteSheet("b.raw", 25, 90);
    std::string error;
    const std::vector<std::string> args = {"--sheet", first, "--sheet", second};
    EXPECT_EQ(engine_->TakeOption(std::span(args).subspan(0), &error), 2);
    EXPECT_EQ(engine_->TakeOption(std::span(args).subspan(2), &error), 2);
    parts_.registers[0xC006] = 0x09;
    parts_.dsp[{0, 0x7F90}] = 200;

    for (const std::string& sheet : {first, second}) {
        const auto before = host_.transfers(0).size();
        Command({0x08, 0x00, 0x01, 0x01});
        ASSERT_TRUE(engine_->WaitIdle(5000));
        auto all = host_.transfers(0);
        std::vector<std::vector<uint8_t>> mine(all.begin() + static_cast<std::ptrdiff_t>(before),
                                               all.end());
        uint8_t page_no = 0;
        uint8_t layer = 0;
        uint16_t dpi = 0;
        EXPECT_EQ(PageOf(mine, &page_no, &layer, &dpi), ReadSheet(sheet));
        EXPECT_EQ(layer, 1);
        EXPECT_EQ(dpi, 200);
    }
    EXPECT_EQ(parts_.machine_states, (std::vector<int>{1, 0, 1, 0}));
    const auto messages = host_.messages();
    ASSERT_EQ(messages.size(), 4u);
    const uint16_t codes[] = {0x0101, 0x0102, 0x0201, 0x0202};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(messages[i][0], 0xF3);
        EXPECT_EQ(Le16(messages[i], 3), codes[i]);
        EXPECT_EQ(Le16(messages[i], 15), 200);  // DPI
        EXPECT_EQ(Le16(messages[i], 17), 1);    // L
    }

    const auto data_before = host_.transfers(0).size();
    Command({0x08, 0x00, 0x01, 0x01});
    ASSERT_TRUE(engine_->WaitIdle(5000));
    EXPECT_EQ(host_.transfers(0).size(), data_before);
    const auto after = host_.messages();
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[4][0], 0xF2);
    EXPECT_EQ(Le16(after[4], 3), 1);  // paper pick time-out
}

TEST_F(ScanEngineTest, PageFollowsLayerModeAndResolution) {
    struct Case {
        uint8_t mode;
        uint16_t dpi_word;
        uint8_t layers;
        uint16_t dpi;
        uint32_t width;
    };
    const Case cases[] = {{0x0A, 150, 2, 150, 1296},
                          {0x0C, 100, 3, 100, 864},
                          {0x09, 300, 1, 300, 1728},
                          {0x00, 0, 1, 200, 1728}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi_word);
        auto engine = std::make_unique<ScanEngine>(parts_.Parts());
        RecordingHost host;
        engine->Attach(&host);
        std::string error;
        const std::vector<std::string> pattern = {"--test-pattern"};
        ASSERT_EQ(engine->TakeOption(pattern, &error), 1);
        parts_.registers[0xC006] = c.mode;
        parts_.dsp[{0, 0x7F90}] = c.dpi_word;
        Message reply{};
        engine->Handle(std::vector<uint8_t>{0x08, 0x00, 0x01, 0x01}, &reply);
        ASSERT_TRUE(engine->WaitIdle(5000));
        uint8_t page_no = 0;
        uint8_t layer = 0;
        uint16_t dpi = 0;
        const auto data = PageOf(host.transfers(0), &page_no, &layer, &dpi);
        EXPECT_EQ(page_no, 1);
        EXPECT_EQ(layer, c.layers);
        EXPECT_EQ(dpi, c.dpi);
        const std::size_t lines = std::size_t{ScanEngine::kPatternLines} * c.width / 1728;
        ASSERT_EQ(data.size(), lines * c.width * c.layers);
        // The generated pattern: byte x of sheet line y is x + y; every layer alike.
        const std::size_t y = lines / 2;
        const std::size_t x = c.width / 3;
        const auto expected = static_cast<uint8_t>(x * 1728 / c.width + y * 1728 / c.width);
        for (std::size_t l = 0; l < c.layers; ++l) {
            EXPECT_EQ(data[(y * c.layers + l) * c.width + x], expected);
        }
    }
}

TEST_F(ScanEngineTest, StopEndsThePageEarly) {
    parts_.registers[0xC006] = 0x09;
    // The stop comes while the first transfer is on its way.
    std::promise<void> first_sent;
    std::promise<void> stopped;
    std::shared_future<void> stop_served = stopped.get_future().share();
    std::once_flag once;
    host_.on_data = [&first_sent, &once, stop_served] {
        std::call_once(once, [&] {
            first_sent.set_value();
            stop_served.wait();
        });
    };
    Command({0x08, 0x00, 0x01, 0x01});
    EXPECT_EQ(first_sent.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    Command({0x08, 0x00, 0x01, 0x00});
    stopped.set_value();
    ASSERT_TRUE(engine_->WaitIdle(5000));
    uint8_t page_no = 0;
    uint8_t layer = 0;
    uint16_t dpi = 0;
    // The page ends after the data of its first transfer (start marker + data).
    const auto data = PageOf(host_.transfers(0), &page_no, &layer, &dpi);
    EXPECT_EQ(data.size(), 32768u - 16u);
    EXPECT_EQ(host_.transfers(0).size(), 2u);
    const auto messages = host_.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(Le16(messages[1], 3), 0x0102);
}

TEST_F(ScanEngineTest, CopiesTablesFromFlashAndLoadsDefaultGamma) {
    for (uint32_t k = 0; k < 1728; ++k) {
        parts_.flash[0x30020 + 2 * k] = static_cast<uint8_t>(k & 0xFF);
        parts_.flash[0x30020 + 2 * k + 1] = static_cast<uint8_t>(k >> 8 | 0x40);
    }
    // 0x11: flash 0x30020, DSP word 0x6B00, DSP 1, 1728 words.
    Command({0x11, 0x00, 0x09, 0x20, 0x00, 0x03, 0x00, 0x00, 0x6B, 0x01, 0xC0, 0x06});
    EXPECT_EQ(parts_.Dsp(1, 0x6B00), 0x4000);
    EXPECT_EQ(parts_.Dsp(1, 0x6B00 + 1727), (1727 & 0xFF) | (1727 >> 8 | 0x40) << 8);
    EXPECT_EQ(parts_.Dsp(0, 0x6B00), 0);
    // 0x14: the default gamma tables, three ramps.
    Command({0x14, 0x00, 0x09, 0x20, 0x00, 0x00, 0x00, 0x00, 0x68, 0x00, 0x00, 0x03});
    EXPECT_EQ(parts_.Dsp(0, 0x6800 + 5), 5);
    EXPECT_EQ(parts_.Dsp(0, 0x6800 + 256 + 255), 255);
    EXPECT_EQ(parts_.Dsp(0, 0x6800 + 767), 255);
    EXPECT_EQ(parts_.Dsp(1, 0x6800 + 5), 0);
}

TEST_F(ScanEngineTest, LedFaultMakesOneLengthRegisterReadBackWrong) {
    EXPECT_EQ(engine_->FilterRegisterRead(0xC013, 0x8A), 0x8A);
    EXPECT_EQ(engine_->Control("ledfault 0x02"), "ledfault 0x02");
    EXPECT_EQ(engine_->FilterRegisterRead(0xC00F, 0xC2), 0xC3);
    EXPECT_EQ(engine_->FilterRegisterRead(0xC013, 0x8A), 0x8A);
    EXPECT_EQ(engine_->Control("ledfault off"), "ledfault off");
    EXPECT_EQ(engine_->FilterRegisterRead(0xC00F, 0xC2), 0xC2);
    EXPECT_EQ(engine_->Control("ledfault 0x03").substr(0, 1), "?");
}

TEST_F(ScanEngineTest, KeepsSettingsTextsAndIdentity) {
    std::vector<std::string> shown;
    engine_->SetConsole([&](const std::string& line) { shown.push_back(line); });
    Command({0x0B, 0x00, 0x04, 0x00, 0x03, 0x65, 0x00});
    Command({0x0B, 0x00, 0x02, 0x02, 0x07});
    Command({0x0B, 0x00, 0x02, 0x04, 0x01});
    Command({0x12, 0x00, 0x01, 0x02});
    Command({0x17, 0x00, 0x01, 0x01});
    Command({0x09, 0x00, 0x01, 0x01});
    Command({0x09, 0x00, 0x01, 0x00});
    Command({0x09, 0x00, 0x01, 0x01});
    Command({0x15, 0x00, 0x05, 0x01, 'O', 'K', '!', 0x00});
    Command({0x16, 0x00, 0x04, 0x02, 'h', 'i', 0x00});
    const auto settings = engine_->settings();
    EXPECT_EQ(settings.paper_count, 3);
    EXPECT_EQ(settings.paper_count_word, 101);
    EXPECT_EQ(settings.paper_type, 7);
    EXPECT_EQ(parts_.device_type, 1);
    EXPECT_EQ(settings.motor_rate, 2);
    EXPECT_EQ(settings.last_sort, 1);
    EXPECT_EQ(settings.sort_decisions, 1);
    EXPECT_EQ(settings.sensor_adjusts, 2);
    EXPECT_EQ(settings.threshold_resets, 1);
    EXPECT_TRUE(settings.printer_on);
    EXPECT_EQ(engine_->printed(), std::vector<std::string>{"OK!"});
    EXPECT_EQ(engine_->lcd().at(2), "hi");
    EXPECT_EQ(shown, (std::vector<std::string>{"printer: OK!", "lcd 2: hi"}));

    const auto echo = Command({0x18, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(std::vector<uint8_t>(echo.begin() + 3, echo.begin() + 11),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    const auto eeprom = Command({0x19, 0x00, 0x02, 0x03, 0x06});
    EXPECT_EQ(eeprom[3], 7);
    EXPECT_EQ(eeprom[4], 8);
    EXPECT_EQ(eeprom[5], 0xFF);

    EXPECT_EQ(engine_->Control("sensor 4 0x1234"), "sensor 4 0x1234");
    const auto sensors = Command({0x07, 0x00, 0x00});
    EXPECT_EQ(Le16(sensors, 3 + 8), 0x1234);
}

TEST_F(ScanEngineTest, UnlitSingleSheetScanEndsTheNormalisationRun) {
    parts_.registers[0xC005] = 0;
    Command({0x0B, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00});
    EXPECT_EQ(engine_->Control("normfail 1"), "normfail 1");
    Command({0x08, 0x00, 0x01, 0x01});
    ASSERT_TRUE(engine_->WaitIdle(5000));
    auto messages = host_.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(Le16(messages[2], 3), 0x000B);  // DSP 0 finished
    EXPECT_EQ(Le16(messages[3], 3), 0x010C);  // DSP 1 failed

    parts_.registers[0xC005] = 0x01;  // a lit scan is an ordinary one
    Command({0x08, 0x00, 0x01, 0x01});
    ASSERT_TRUE(engine_->WaitIdle(5000));
    EXPECT_EQ(host_.messages().size(), 6u);
}

TEST_F(ScanEngineTest, RefusesBadOptions) {
    std::string error;
    const std::vector<std::string> missing = {"--sheet", (dir_ / "none.raw").string()};
    EXPECT_EQ(engine_->TakeOption(missing, &error), -1);
    EXPECT_NE(error.find("none.raw"), std::string::npos);
    const std::vector<std::string> bare = {"--sheet"};
    EXPECT_EQ(engine_->TakeOption(bare, &error), -1);
    const std::vector<std::string> other = {"--flash-id", "1"};
    EXPECT_EQ(engine_->TakeOption(other, &error), 0);
}

}  // namespace
}  // namespace zerik::sim

namespace zerik::sim {
namespace {

TEST_F(ScanEngineTest, EmptyHopperUntilASheetIsQueued) {
    std::string error;
    const std::vector<std::string> no_paper = {"--no-paper"};
    EXPECT_EQ(engine_->TakeOption(no_paper, &error), 1);
    Command({0x08, 0x00, 0x01, 0x01});
    ASSERT_TRUE(engine_->WaitIdle(5000));
    ASSERT_EQ(host_.messages().size(), 1u);
    EXPECT_EQ(host_.messages()[0][0], 0xF2);
    EXPECT_TRUE(host_.transfers(0).empty());

    const std::string sheet = WriteSheet("late.raw", 5, 3);
    EXPECT_EQ(engine_->Control("sheet " + sheet), "sheet " + sheet + " queued");
    Command({0x08, 0x00, 0x01, 0x01});
    ASSERT_TRUE(engine_->WaitIdle(5000));
    uint8_t page_no = 0;
    uint8_t layer = 0;
    uint16_t dpi = 0;
    EXPECT_EQ(PageOf(host_.transfers(0), &page_no, &layer, &dpi), ReadSheet(sheet));
    EXPECT_EQ(page_no, 1);  // the failed pick used no page number
}

}  // namespace
}  // namespace zerik::sim
