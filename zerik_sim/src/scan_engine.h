// The scanner's scan side: paper feed and page streaming, sensors, paper and
// sorter settings, printer, LCD, EEPROM and USB identity, motor rate, and
// the table copies from flash into DSP memory.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "answer_sheet.h"
#include "zerik_sim/simulator.h"

namespace zerik::sim {

using Message = std::array<uint8_t, 64>;

// The rest of the device the scan side works on: the controller's register
// space, the two DSPs' memories, the configuration flash, and the type and
// machine state the controller reports. The scan side never calls them while
// it holds its own lock.
struct DeviceParts {
    std::function<uint8_t(uint16_t address)> read_register;
    std::function<uint16_t(int dsp, uint16_t word)> read_dsp;
    std::function<void(int dsp, uint16_t word, uint16_t value)> write_dsp;
    std::function<std::vector<uint8_t>(uint32_t address, std::size_t count)> read_flash;
    std::function<void(uint8_t type)> set_device_type;
    std::function<void(uint8_t state)> set_machine_state;  // 1 while a sheet is fed
};

// One page as it goes out on a data pipe: a start marker, the data and an
// end marker, cut into transfers of at most 32 KiB so that no marker spans
// two transfers and one more word follows each marker. Stops between
// transfers once *stop is set (the end marker still goes out).
void SendSheetPage(Host& host, int pipe, uint8_t page_no, uint8_t layer, uint16_t dpi,
                   std::span<const uint8_t> data, const std::atomic<bool>* stop);

class ScanEngine {
  public:
    static constexpr uint32_t kSheetWidth = 1728;  // sheet lines, at 200 dpi
    static constexpr uint32_t kPatternLines = 2200;
    static constexpr int kSensors = 16;
    static constexpr std::size_t kEepromSize = 256;
    static constexpr uint8_t kEventScanStart = 1;
    static constexpr uint8_t kEventScanEnd = 2;
    static constexpr uint8_t kEventNormDone = 11;
    static constexpr uint8_t kEventNormFailed = 12;
    static constexpr uint8_t kFaultPickTimeout = 1;

    explicit ScanEngine(DeviceParts parts);
    ~ScanEngine();
    ScanEngine(const ScanEngine&) = delete;
    ScanEngine& operator=(const ScanEngine&) = delete;

    void Attach(Host* host);
    // Where printer and LCD texts are shown; none by default.
    void SetConsole(std::function<void(const std::string&)> console);

    // Takes the option at args[0] when it is the scan side's (--sheet FILE,
    // --no-paper, --test-pattern, --form FILE, --write-demo-files DIR):
    // the number of arguments used, 0 when it is not, -1 with *error for a
    // bad one.
    int TakeOption(std::span<const std::string> args, std::string* error);
    static std::string OptionsHelp();

    // Serves a command packet whose code is the scan side's and fills its
    // reply (the code, the count of data bytes, the data from byte 3); false
    // when the code is not the scan side's.
    bool Handle(std::span<const uint8_t> packet, Message* reply);
    static bool Handles(uint8_t code);

    // What a register read by the host returns: the stored byte, unless a
    // fault makes an LED length register read back wrong.
    uint8_t FilterRegisterRead(uint16_t address, uint8_t stored) const;

    std::string Control(const std::string& line);
    static std::string ControlHelp();

    // Stops a scan under way, waits for its feed to end and refuses later
    // starts: the device is going away.
    void Halt();

    // State, for tests and the console.
    struct Settings {
        int paper_count = 0;
        int paper_count_word = 0;
        int paper_check = 0;
        int paper_type = 0;
        int sort_type = 0;
        int motor_rate = 0;
        int sort_decisions = 0;
        int last_sort = -1;  // payload of the last sort command
        int sensor_adjusts = 0;
        int threshold_resets = 0;
        bool printer_on = false;
    };
    Settings settings() const;
    std::vector<std::string> printed() const;
    std::map<int, std::string> lcd() const;
    std::array<uint8_t, 8> usb_identity() const;
    int scans_started() const;
    int scans_finished() const;
    bool scanning() const;
    // Waits until no scan is under way; false when one still runs after timeout_ms.
    bool WaitIdle(int timeout_ms) const;

  private:
    static void Fill(Message* reply, std::span<const uint8_t> packet,
                     std::span<const uint8_t> data = {});
    void StartScan();
    void StopScan();
    void Feed(std::optional<std::vector<uint8_t>> sheet, uint8_t page_no);
    void SendEvent(uint8_t code, uint8_t high, uint16_t dpi, uint16_t layer);
    void SendFault(uint8_t code);
    void CopyToDsp(std::span<const uint8_t> payload, bool default_gamma);
    void Show(const std::string& line);
    std::vector<uint8_t> PageData(const std::vector<uint8_t>& sheet, uint32_t dpi,
                                  uint32_t layers) const;

    DeviceParts parts_;
    Host* host_ = nullptr;
    std::function<void(const std::string&)> console_;

    mutable std::mutex mutex_;
    mutable std::condition_variable idle_;
    Settings settings_;
    std::array<uint16_t, kSensors> sensors_{};
    std::vector<std::string> printed_;
    std::map<int, std::string> lcd_;
    std::array<uint8_t, kEepromSize> eeprom_{};
    bool hopper_only_ = false;   // feed only sheets given or queued
    bool test_pattern_ = false;  // generated sheets are the test pattern
    AnswerSheetOptions answer_sheet_;  // the generated sheet otherwise
    std::deque<std::vector<uint8_t>> sheets_;
    int led_fault_bit_ = -1;  // LED whose length register reads back wrong
    bool norm_fails_[2] = {false, false};
    uint8_t next_page_ = 1;
    int scans_started_ = 0;
    int scans_finished_ = 0;
    bool scanning_ = false;
    bool halted_ = false;  // no more scans once the device stops
    std::atomic<bool> stop_{false};
    std::thread feeder_;
    uint32_t start_ms_ = 0;
};

}  // namespace zerik::sim
