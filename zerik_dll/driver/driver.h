// The driver boundary: what the library needs of the scanner's driver, as one
// small table of functions. Each backend lives in a file of its own; the
// rest of the library reaches the device only through this table, via the
// pipe transport.
//
// Pipes: 0 host-to-device (command packets and keep-alives), 1 device-to-
// host messages of at most 64 bytes, 2 and 3 device-to-host data transfers
// of at most 32768 bytes. One read returns one transfer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zerik::driver {

// An opened device path; its layout belongs to the backend.
struct Device;

enum class IoStatus {
    Done,     // the transfer completed; the count is valid (it may be 0)
    Timeout,  // nothing completed within the time-out
    Failed,   // the request failed at once (connection closed, bad pipe)
};

struct Backend {
    const char* name;
    // Opens device path number `number` (0..99); nullptr when it does not open.
    Device* (*open)(int number);
    // Makes every pending and later transfer on the device fail at once.
    void (*shutdown)(Device* device);
    // Releases the device; no transfer may be running on it.
    void (*destroy)(Device* device);
    // Reads one transfer of at most *length bytes into buffer; on Done,
    // *length holds the count received.
    IoStatus (*read)(Device* device, uint32_t pipe, uint8_t* buffer, uint32_t* length,
                     uint32_t timeout_ms);
    // Writes length bytes as one transfer; on Done, *written holds the count sent.
    IoStatus (*write)(Device* device, uint32_t pipe, const uint8_t* data, uint32_t length,
                      uint32_t* written, uint32_t timeout_ms);
};

// The backend in use: Unix-domain sockets served by a stand-in for the
// kernel driver (see driver/PROTOCOL.md).
const Backend& ActiveBackend();

// Shared ownership of an opened device: threads that are inside a transfer
// keep it alive while the monitor drops the link and opens a new one.
using DeviceRef = std::shared_ptr<Device>;
DeviceRef OpenDevice(int number);

// The directory that holds the device sockets: ZERIK_DEVICE_DIR, else the
// per-user runtime directory.
std::string DeviceDirectory();

}  // namespace zerik::driver
