#include "dsp_memory.h"

namespace zerik::sim {
namespace {

constexpr uint32_t kCodeStart = 0x0100;  // word address of the program
constexpr uint32_t kCodeWords = 0x1800;
constexpr uint16_t kGammaTable = 0x6800;
constexpr uint32_t kGammaWords = 3 * 256;
constexpr uint16_t kDpiWord = 0x7F90;
constexpr uint16_t kLayerWord = 0x7F91;
constexpr uint32_t kEntryPoint = 2 * kCodeStart;  // byte address

// A small deterministic generator for memory contents.
uint32_t NextRandom(uint32_t* state) {
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}

}  // namespace

Dsp::Dsp(int number) : number_(number), words_(kWords, 0) {}

void Dsp::PowerUpRunning(uint16_t version) {
    uint32_t state = 0x9E3779B9u + static_cast<uint32_t>(number_);
    for (uint32_t i = 0; i < kWords; ++i) words_[i] = 0;
    for (uint32_t i = 0; i < kCodeWords; ++i) {
        words_[kCodeStart + i] = static_cast<uint16_t>(NextRandom(&state));
    }
    for (uint32_t i = 0; i < kGammaWords; ++i) {
        words_[kGammaTable + i] = static_cast<uint16_t>(i & 0xFF);  // identity tables
    }
    words_[kBootFlag] = static_cast<uint16_t>(kBootStart | (kEntryPoint >> 16));
    words_[kBootEntryLow] = static_cast<uint16_t>(kEntryPoint & 0xFFFF);
    words_[kVersion] = version;
    words_[kHeartbeat] = static_cast<uint16_t>(NextRandom(&state));
    words_[kDspNumber] = static_cast<uint16_t>(number_);
    words_[kDpiWord] = 200;
    words_[kLayerWord] = 0;
    running_ = true;
    in_reset_ = false;
    entry_point_ = kEntryPoint;
}

void Dsp::PowerUpStopped() {
    uint32_t state = 0x2545F491u ^ static_cast<uint32_t>(number_ * 7919 + 1);
    for (uint32_t i = 0; i < kWords; ++i) words_[i] = static_cast<uint16_t>(NextRandom(&state));
    words_[kBootFlag] = 0;
    running_ = false;
    in_reset_ = false;
    entry_point_ = 0;
}

uint16_t Dsp::Read(uint16_t address) {
    if (address == kHeartbeat && running_) ++words_[kHeartbeat];
    return words_[address];
}

void Dsp::Write(uint16_t address, uint16_t value) {
    words_[address] = value;
    if (address == kBootFlag && (value & kBootStart) != 0 && !in_reset_) {
        entry_point_ = static_cast<uint32_t>(value & 0xFF) << 16 | words_[kBootEntryLow];
        running_ = true;
        ++starts_;
    }
}

void Dsp::HoldInReset() {
    in_reset_ = true;
    running_ = false;
}

void Dsp::ReleaseReset() {
    if (!in_reset_) return;
    in_reset_ = false;
    words_[kBootFlag] = 0;
}

}  // namespace zerik::sim
