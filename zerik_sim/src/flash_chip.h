// The scanner's configuration flash chip, as the controller exposes it: a
// raw read (0x0C) and write (0x0D) of the chip's address space, through
// which the host drives the chip's own command cycles, and a program
// command (0x10) with which the controller stores data bytes.
//
// Two chips are modelled:
// - 0xBF04: 256-byte sectors; single-cycle commands (0x90 identify, 0xFF
//   reset, 0x20 then 0xD0 at the sector to erase it); write protected at
//   power-up until the host reads the unprotect address sequence.
// - 0xBFD7: 4096-byte sectors; three-cycle commands after 0xAA to 0x5555 and
//   0x55 to 0x2AAA (0x90 identify, 0x80 then again 0xAA/0x55 and 0x30 at
//   the sector to erase it); 0xF0 leaves identify mode.
// While an erase runs, every read returns a status byte that is not 0xFF.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace zerik::sim {

class FlashChip {
  public:
    static constexpr uint32_t kSize = 0x80000;  // 512 KiB, 128 blocks of 4096 bytes
    static constexpr uint16_t kPagedChip = 0xBF04;
    static constexpr uint16_t kJedecChip = 0xBFD7;
    static constexpr uint8_t kReadCommand = 0x0C;
    static constexpr uint8_t kWriteCommand = 0x0D;
    static constexpr uint8_t kProgramCommand = 0x10;
    static constexpr int kStuck = -1;  // busy reads of an erase that never ends

    // A 0xBFD7 chip holding what a calibrated scanner holds: gamma tables
    // for both DSPs behind the "GAMMA" header at 0, and a normalisation page
    // ("NORM" header, 1728 coefficients) for every page the scan set-up can
    // ask for (pages 2 to 53); everything else erased.
    FlashChip();

    // Takes one zerik_sim option at the front of `args` (--flash-id ID,
    // --flash-image FILE). Returns how many arguments it took: 0 when the
    // option is not the chip's, -1 with *error for a bad value.
    int TakeOption(std::span<const std::string> args, std::string* error);
    static std::string OptionsHelp();

    // Control lines "flash ...": empty when the line is not the chip's.
    std::string Control(const std::string& line);
    static std::string ControlHelp();

    // Serves one flash command packet (0x0C, 0x0D or 0x10, whole packet as
    // the host wrote it) and fills the 64-byte reply. False for a packet too
    // short for its count or another command: it gets no reply.
    bool Handle(std::span<const uint8_t> packet, std::array<uint8_t, 64>& reply);

    // The stored bytes (not what the bus would show in a command mode);
    // addresses beyond the chip read as 0xFF.
    std::vector<uint8_t> Read(uint32_t address, std::size_t count) const;
    // Replaces stored bytes directly, as a programmer on the bench would.
    void Store(uint32_t address, std::span<const uint8_t> bytes);

    uint16_t id() const;
    void set_id(uint16_t id);
    // How many status reads the next erases stay busy for (kStuck: forever).
    void set_busy_reads(int reads);
    bool write_protected() const;
    int erases_done() const;  // sectors erased since power-up

    // The factory contents: gamma block, then normalisation pages.
    static std::vector<uint8_t> FactoryImage();
    static uint16_t FactoryGamma(int dsp, int layer, int entry);
    static uint16_t FactoryCoefficient(int page, int index);

  private:
    uint8_t BusRead(uint32_t address);
    void BusWrite(uint32_t address, uint8_t value);
    void BusWritePaged(uint32_t address, uint8_t value);
    void BusWriteJedec(uint32_t address, uint8_t value);
    void StartErase(uint32_t start, uint32_t length);
    void FinishErase();

    enum class Mode { Read, Identify };
    // Steps of the three-cycle command sequences.
    enum class Cycle { Idle, Unlocked1, Unlocked2, EraseSetup, EraseUnlocked1, EraseUnlocked2 };

    mutable std::mutex mutex_;
    uint16_t id_ = kJedecChip;
    std::vector<uint8_t> cells_;
    Mode mode_ = Mode::Read;
    Cycle cycle_ = Cycle::Idle;
    bool erase_setup_ = false;  // paged chip: 0x20 seen
    bool protected_ = true;     // paged chip only
    std::array<uint32_t, 7> recent_reads_{};
    int busy_reads_setting_ = 1;
    int busy_reads_left_ = 0;
    bool erasing_ = false;
    uint32_t erase_start_ = 0;
    uint32_t erase_length_ = 0;
    uint8_t toggle_ = 0;
    int erases_done_ = 0;
};

}  // namespace zerik::sim
