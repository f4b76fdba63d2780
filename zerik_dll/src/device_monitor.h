// The device monitor's own command: the device-type query (not exported).
#pragma once

#include <cstdint>
#include <string>

#include "context.h"

namespace zerik {

// Asks the device for its type and stores it at *type (0 to 255). Returns
// 0, -1 for a null context (or output), -3 when not connected, -100
// without a device handle, -2 when no reply came within 1000 ms.
int32_t Zerik_GetDevType(DeviceContext* dev, int32_t* type);

// The firmware file below the system directory; empty when the system
// directory is too long for a path of 260 characters.
std::string FirmwarePath();

}  // namespace zerik
