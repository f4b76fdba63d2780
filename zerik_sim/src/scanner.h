// The simulated scanner's model: what its controller answers on the command
// pipe, and the faults a control line can inject.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "dsp_memory.h"
#include "flash_chip.h"
#include "page_stream.h"
#include "scan_engine.h"
#include "zerik_sim/simulator.h"

namespace zerik::sim {

enum class PipeTestAnswer { Right, OneWrongByte, Silent, Short };

// How the DSPs come up when the scanner powers on.
enum class DspPowerUp { Running, Stopped, Dsp1Stopped };

using Message = std::array<uint8_t, 64>;

class Scanner : public Device {
  public:
    static constexpr uint16_t kDefaultFirmwareVersion = 0x0105;
    static constexpr uint32_t kDefaultLateReplyMs = 1500;

    explicit Scanner(Host* host = nullptr);

    // Takes the zerik_sim options it knows; false with *error for a bad one.
    bool Configure(const std::vector<std::string>& args, std::string* error);

    void Attach(Host* host) override {
        host_ = host;
        scan_.Attach(host);
    }
    void OnHostWrite(Link& from, std::span<const uint8_t> bytes) override;
    std::string Control(const std::string& line) override;
    std::string ControlHelp() const override;
    void Halt() override { scan_.Halt(); }

    // The configuration flash behind the controller (tests, and the commands
    // that copy flash contents into the DSPs).
    FlashChip& flash() { return flash_; }
    // The scan side: paper feed, settings, peripherals, table copies.
    ScanEngine& scan() { return scan_; }

    // State for tests.
    int pipe_tests() const;
    uint16_t dsp_word(int dsp, uint16_t address) const;
    bool dsp_running(int dsp) const;
    int dsp_starts(int dsp) const;
    uint32_t dsp_entry_point(int dsp) const;
    uint8_t register_byte(uint16_t address) const;
    int keep_alives() const;
    int last_keep_alive() const;
    // Every packet the host wrote on the command pipe, in order.
    std::vector<std::vector<uint8_t>> packets() const;

    // Sends one page to every open link (see page_stream.h).
    void StreamPage(const PageSpec& plan);

  private:
    void AnswerPipeTest(Link& from);
    // Builds the reply of one command; false when the command has none.
    bool Serve(std::span<const uint8_t> packet, Message* reply);
    void ReadRegisters(std::span<const uint8_t> payload, Message* reply);
    void WriteRegisters(std::span<const uint8_t> payload, Message* reply);
    void WriteRegister(uint16_t address, uint8_t value);
    void ReadDsp(std::span<const uint8_t> payload, Message* reply);
    void WriteDsp(std::span<const uint8_t> payload, Message* reply);
    // Sends a reply through the injected faults (drop, delay, a trailing report).
    void SendReply(Link& from, const Message& reply);
    void PowerUp();
    DeviceParts ScanParts();
    std::string InjectReport(std::istringstream& in);
    std::string SetFault(const std::string& word, std::istringstream& in);

    mutable std::mutex mutex_;
    Host* host_;
    PipeTestAnswer pipe_test_answer_ = PipeTestAnswer::Right;
    int pipe_tests_ = 0;

    // Device state.
    int dev_type_ = 1;
    uint8_t machine_state_ = 0;
    DspPowerUp dsp_power_up_ = DspPowerUp::Running;
    uint16_t firmware_version_ = kDefaultFirmwareVersion;
    std::array<Dsp, 2> dsps_{Dsp(0), Dsp(1)};
    std::array<uint8_t, 0x10000> registers_{};
    FlashChip flash_;
    int keep_alives_ = 0;
    int last_keep_alive_ = -1;
    std::vector<std::vector<uint8_t>> packets_;

    // Injected faults on the next replies.
    int drop_replies_ = 0;  // < 0: every reply
    int delay_replies_ = 0;
    uint32_t delay_ms_ = 0;
    bool trail_report_ = false;

    // Last: its feed thread works on the state above until it is joined.
    ScanEngine scan_;
};

}  // namespace zerik::sim
