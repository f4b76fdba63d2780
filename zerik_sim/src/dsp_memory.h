// One of the scanner's two DSPs as the host sees it through the controller:
// 64 K words of data memory, and whether its firmware runs.
#pragma once

#include <cstdint>
#include <vector>

namespace zerik::sim {

class Dsp {
  public:
    static constexpr uint32_t kWords = 0x10000;
    // Words the host and the boot code agree on.
    static constexpr uint16_t kBootFlag = 0x60;      // 0x0100 | entry bits 16..23 starts it
    static constexpr uint16_t kBootEntryLow = 0x61;  // entry bits 0..15
    static constexpr uint16_t kVersion = 0x7F80;     // firmware version
    static constexpr uint16_t kHeartbeat = 0x7F82;   // advanced by the running firmware
    static constexpr uint16_t kDspNumber = 0x7F84;   // the DSP's own number
    static constexpr uint16_t kBootStart = 0x0100;

    explicit Dsp(int number);

    // Memory as a DSP that runs its firmware holds it: code, tables, the
    // version word and a beating heart.
    void PowerUpRunning(uint16_t version);
    // Memory as a DSP that came up without firmware holds it: undefined RAM
    // contents and a boot code waiting for its start word.
    void PowerUpStopped();

    // A host read of one word. Each read of the heartbeat of a running DSP
    // sees it moved on, as the firmware's main loop keeps advancing it.
    uint16_t Read(uint16_t address);
    // A host write of one word; the start word at kBootFlag starts the
    // firmware at its entry point.
    void Write(uint16_t address, uint16_t value);

    // Held in reset: the firmware stops; on release the boot code clears
    // the start word and waits for a new one.
    void HoldInReset();
    void ReleaseReset();

    uint16_t Peek(uint16_t address) const { return words_[address]; }
    bool running() const { return running_; }
    uint32_t entry_point() const { return entry_point_; }
    int starts() const { return starts_; }

  private:
    int number_;
    std::vector<uint16_t> words_;
    bool running_ = false;
    bool in_reset_ = false;
    uint32_t entry_point_ = 0;
    int starts_ = 0;
};

}  // namespace zerik::sim
