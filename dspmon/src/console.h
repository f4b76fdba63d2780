// The console's command loop and its commands on DSP memory.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "command_line.h"
#include "dsp_files.h"
#include "zerik_dll.h"

namespace dspmon {

class Console {
  public:
    // Reads commands from `in` and writes to `out`; the device stays the caller's.
    Console(DeviceContext* dev, std::FILE* in, std::FILE* out);

    // Reads and runs commands until q or the end of the input.
    void Run();

    // w: loads red.tbl and blue.tbl, then posi.asc and stop.asc into DSP memory.
    void LoadFiles();

  private:
    // One line without its line break; false at the end of the input.
    bool ReadLine(std::string* line);
    void Print(const std::string& text);

    void Dump(const std::string& line);
    void Enter(std::string arguments);
    void EnterInteractively(uint16_t address);
    void Fill(std::string arguments);
    void LoadAlternatePositions();
    void ScanSheet();
    void WritePositionBlock(std::size_t words);

    DeviceContext* dev_;
    std::FILE* in_;
    std::FILE* out_;
    const int dsp_ = 0;  // the DSP selector; the o command does not change it
    uint16_t dump_address_ = 0;
    std::array<uint16_t, kDumpWords> dump_words_{};
    uint16_t entered_word_ = 0;
    WordBuf word_buf_{};
};

}  // namespace dspmon
