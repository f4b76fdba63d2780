// Machine controls: paper path, peripherals and the normalisation action.
#pragma once

#include <cstdint>

#include "context.h"

namespace zerik {

// Controller registers of the motors and the FM output.
constexpr uint16_t kRegMotorBits = 0xC01B;
constexpr uint16_t kRegMotorEnable = 0xC01D;

// Scan events (0xF3) with which the device ends its normalisation action:
// the high byte of the event code names the DSP (0 or 1).
constexpr uint8_t kEventNormDone = 11;
constexpr uint8_t kEventNormFailed = 12;

// Notes the end of one DSP's normalisation action for Zerik_NormStatusCheck:
// `code` is the event word of a scan event; other events change nothing.
void NoteNormEvent(DeviceContext* dev, uint16_t code);

}  // namespace zerik
