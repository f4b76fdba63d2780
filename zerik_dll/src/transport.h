// The pipe transport: the connection attempt with its loop-back test, and
// the two primitives through which all traffic with the scanner passes.
#pragma once

#include <cstdint>

#include "context.h"

namespace zerik {

constexpr uint32_t kCommandPipe = 0;
constexpr uint32_t kMessagePipe = 1;
constexpr uint32_t kPipeTimeoutMs = 300;
constexpr uint32_t kDataTimeoutMs = 500;
constexpr uint32_t kDataChunkSize = 32768;
constexpr int kDevicePathCount = 100;

// Opens the first device path that opens and proves its pipes with the
// loop-back test. True when the device is linked (or already was).
bool OpenDriverPipes(DeviceContext* dev);

// Reads one transfer. `length` holds the buffer size on entry and the count
// received on success; a transfer that completed with an error is a success
// with 0 bytes. False on time-out or when the request fails at once.
bool PipeRead(driver::Device* device, uint32_t pipe, void* buffer, uint32_t* length,
              uint32_t timeout_ms);

// Writes one transfer; true when at least one byte went out.
bool PipeWrite(driver::Device* device, uint32_t pipe, const void* data, uint32_t length,
               uint32_t timeout_ms);

// Sends the keep-alive of a closing context (nothing for a null or
// unconnected one).
void SendClosingKeepAlive(DeviceContext* dev);

// Frees pages still queued or half received when a context goes away.
void DiscardQueuedPages(DeviceContext* dev);

}  // namespace zerik
