// Scan set-up: layer mode, line length, LEDs, timing, DSP words, gamma
// tables and normalisation coefficients, written before a scan.
#pragma once

#include <array>
#include <cstdint>

#include "context.h"

namespace zerik {

// Default DSP word addresses of the set-up (both DSPs alike).
constexpr uint16_t kDspDpiWord = 0x7F90;
constexpr uint16_t kDspLayerWord = 0x7F91;
constexpr uint16_t kDspNormSwitch = 0x7F8D;
constexpr uint16_t kDspGammaArea = 0x6800;
constexpr uint16_t kDspCoefficientArea = 0x6B00;

constexpr uint16_t kGammaWords = 768;         // three 256-entry tables
constexpr uint16_t kCoefficientWords = 1728;  // one layer's coefficients
constexpr uint32_t kFlashPageSize = 4096;
constexpr uint32_t kFlashPageHeader = 32;
constexpr uint32_t kFlashGammaTables = 0x20;  // DSP 0's; DSP 1's follow 0x600 bytes on

// Controller registers of the set-up.
constexpr uint16_t kRegScanTiming = 0xC000;
constexpr uint16_t kRegLedEnable = 0xC005;
constexpr uint16_t kRegLayerMode = 0xC006;
constexpr uint16_t kRegLineLength = 0xC020;
constexpr uint16_t kRegLineLength2 = 0xC022;

// The 16-bit light-length register of the lowest LED bit set in mask
// (bits 0 to 7); 0 when none is set.
uint16_t LedLengthRegister(uint32_t led_mask);

// What the set-up writes for one combination of device type, dpi and layer.
struct ScanGeometry {
    uint16_t line_length;  // per layer
    uint8_t motor_rate;
    uint16_t timing_word;
};
ScanGeometry GeometryFor(int32_t dev_type, int32_t dpi, int32_t layer);

// Flash page of the normalisation coefficients of DSP dsp, layer index
// layer_index, for a set-up with layer layers and LED mask led.
uint32_t NormPage(int32_t layer, int32_t led, int dsp, int layer_index);

// The gamma table the set-up writes itself for a single-layer scan under
// LED 0x08 with normalisation on.
extern const std::array<uint8_t, 256> kBuiltInGamma;

// Copies one layer's coefficients (1728 words) from flash into a DSP.
int32_t LoadNormCoff(DeviceContext* dev, uint32_t flash_address, uint16_t dsp_address, uint8_t dsp);

}  // namespace zerik
