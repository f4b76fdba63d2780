// The command exchange: one CommandPacket out on the command pipe, one reply
// back through the message receiver.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "context.h"

namespace zerik {

// Export results.
constexpr int32_t kOk = 0;
constexpr int32_t kBadArgument = -1;
constexpr int32_t kNoReply = -2;
constexpr int32_t kNotConnected = -3;
constexpr int32_t kDeviceFailure = -100;

constexpr uint32_t kReplyTimeoutMs = 1000;
constexpr std::size_t kMaxPayload = 61;  // the packet is built in 64 bytes

using Reply = std::array<uint8_t, kMsgSize>;

// The first two checks of every export that talks to the device: a null
// context gives -1, an unconnected one -3; 0 when both pass. The export's
// own argument checks come next, then MsgExchange checks the handle.
int32_t CheckContext(const DeviceContext* dev);

enum class TimeoutLog { Write, Silent };

// Sends the packet (code, 0, payload size, payload) and waits for its reply.
// Returns 0 with *reply filled, -100 without a device handle, -2 when no
// reply came within 1000 ms (logging "WaitForSingleObject超时\n" unless
// told to stay silent). A payload above 61 bytes is the caller's fault.
int32_t MsgExchange(DeviceContext* dev, uint8_t code, std::span<const uint8_t> payload,
                    Reply* reply, TimeoutLog timeout_log = TimeoutLog::Write);

}  // namespace zerik
