// The command exchange and the seven exports that read and write the
// controller's registers and the two DSPs' memories.
#include "command.h"

#include <algorithm>
#include <cstring>

#include "log.h"
#include "texts.h"
#include "transport.h"

namespace zerik {
namespace {

constexpr uint8_t kReadRegisters = 0x01;
constexpr uint8_t kWriteRegisters = 0x02;
constexpr uint8_t kReadDspWords = 0x05;
constexpr uint8_t kWriteDspWords = 0x06;

constexpr uint32_t kMaxRegisterBytes = 58;  // reply bytes 6 to 63
constexpr std::size_t kRegisterDataOffset = 6;
constexpr uint32_t kMaxDspWords = 28;  // reply bytes 7 to 62, packet bytes 7 to 62
constexpr std::size_t kDspDataOffset = 7;
constexpr uint32_t kDspChunkBytes = 2 * kMaxDspWords;

// Readies the slot for this exchange's reply: anything that came before,
// such as the late reply of an exchange that gave up, is forgotten.
void ArmReply(DeviceContext* dev) {
    ReplySlot& slot = dev->PendingReply;
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.armed = true;
    slot.filled = false;
    dev->ReplyEvent.Reset();
}

// Ends the wait; true with *reply filled when the reply came.
bool TakeReply(DeviceContext* dev, Reply* reply) {
    ReplySlot& slot = dev->PendingReply;
    std::lock_guard<std::mutex> lock(slot.mutex);
    const bool came = slot.filled;
    if (came && reply != nullptr) std::memcpy(reply->data(), slot.bytes, kMsgSize);
    slot.armed = false;
    slot.filled = false;
    dev->ReplyEvent.Reset();
    return came;
}

uint8_t Low(uint32_t value) {
    return static_cast<uint8_t>(value & 0xFF);
}
uint8_t High(uint32_t value) {
    return static_cast<uint8_t>((value >> 8) & 0xFF);
}

uint16_t SwapBytes(uint16_t value) {
    return static_cast<uint16_t>((value >> 8) | (value << 8));
}

}  // namespace

int32_t CheckContext(const DeviceContext* dev) {
    if (dev == nullptr) return kBadArgument;
    if (dev->Connected.load() == 0) return kNotConnected;
    return kOk;
}

int32_t MsgExchange(DeviceContext* dev, uint8_t code, std::span<const uint8_t> payload,
                    Reply* reply, TimeoutLog timeout_log) {
    const driver::DeviceRef link = dev->Driver();
    if (!link) return kDeviceFailure;
    if (payload.size() > kMaxPayload) return kBadArgument;
    std::array<uint8_t, kMsgSize> packet{};
    packet[0] = code;
    packet[1] = 0;
    packet[2] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), packet.begin() + 3);

    bool came;
    {
        os::NamedMutexLock lock(dev->MsgMutex.get(), os::kInfinite);
        ArmReply(dev);
        // A failed write shows as a missing reply.
        PipeWrite(link.get(), kCommandPipe, packet.data(),
                  static_cast<uint32_t>(payload.size() + 3), kPipeTimeoutMs);
        dev->ReplyEvent.Wait(kReplyTimeoutMs);
        came = TakeReply(dev, reply);
    }
    if (!came) {
        if (timeout_log == TimeoutLog::Write) dev->Log(text::kReplyTimeout);
        return kNoReply;
    }
    return kOk;
}

}  // namespace zerik

using namespace zerik;

extern "C" {

ZERIK_API int32_t Zerik_ReadAddress(DeviceContext* dev, int32_t address, int32_t count,
                                    uint8_t* out) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    const uint32_t n = Low(static_cast<uint32_t>(count));
    if (n > kMaxRegisterBytes || (n > 0 && out == nullptr)) return kBadArgument;
    const uint32_t addr = static_cast<uint32_t>(address);
    const uint8_t payload[] = {Low(addr), High(addr), static_cast<uint8_t>(n)};
    Reply reply{};
    const int32_t status = MsgExchange(dev, kReadRegisters, payload, &reply);
    if (status != kOk) return status;
    std::memcpy(out, reply.data() + kRegisterDataOffset, n);
    return kOk;
}

ZERIK_API int32_t Zerik_WriteAddress(DeviceContext* dev, int32_t address, int32_t count,
                                     const uint8_t* data) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    const uint32_t n = Low(static_cast<uint32_t>(count));
    if (n > kMaxRegisterBytes || (n > 0 && data == nullptr)) return kBadArgument;
    const uint32_t addr = static_cast<uint32_t>(address);
    std::array<uint8_t, 3 + kMaxRegisterBytes> payload{Low(addr), High(addr),
                                                       static_cast<uint8_t>(n)};
    std::copy_n(data, n, payload.begin() + 3);
    Reply reply{};
    const int32_t status = MsgExchange(dev, kWriteRegisters, std::span(payload.data(), n + 3),
                                       &reply, TimeoutLog::Silent);
    if (status != kOk) return status;
    // The device echoes what its registers now hold.
    if (!std::equal(data, data + n, reply.begin() + kRegisterDataOffset)) return kDeviceFailure;
    return kOk;
}

ZERIK_API int32_t Zerik_ReadDsp(DeviceContext* dev, int32_t dsp, int32_t address, int32_t count,
                                uint16_t* out) {
    if (dev == nullptr) return kBadArgument;
    const uint32_t n = Low(static_cast<uint32_t>(count));
    if (n > kMaxDspWords) return kBadArgument;
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    if (n > 0 && out == nullptr) return kBadArgument;
    const uint32_t addr = static_cast<uint32_t>(address);
    const uint8_t payload[] = {Low(addr), High(addr), static_cast<uint8_t>(n),
                               Low(static_cast<uint32_t>(dsp))};
    Reply reply{};
    const int32_t status = MsgExchange(dev, kReadDspWords, payload, &reply);
    if (status != kOk) return status;
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint16_t>(reply[kDspDataOffset + 2 * i] << 8 |
                                       reply[kDspDataOffset + 2 * i + 1]);
    }
    return kOk;
}

ZERIK_API int32_t Zerik_WriteDsp(DeviceContext* dev, int32_t dsp, int32_t address, int32_t count,
                                 const uint16_t* words) {
    if (dev == nullptr) return kBadArgument;
    const uint32_t n = Low(static_cast<uint32_t>(count));
    if (n > kMaxDspWords) return kBadArgument;
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    if (n > 0 && words == nullptr) return kBadArgument;
    const uint32_t addr = static_cast<uint32_t>(address);
    std::array<uint8_t, 4 + 2 * kMaxDspWords> payload{
        Low(addr), High(addr), static_cast<uint8_t>(n), Low(static_cast<uint32_t>(dsp))};
    for (uint32_t i = 0; i < n; ++i) {
        payload[4 + 2 * i] = High(words[i]);
        payload[5 + 2 * i] = Low(words[i]);
    }
    return MsgExchange(dev, kWriteDspWords, std::span(payload.data(), 4 + 2 * n), nullptr);
}

ZERIK_API int32_t Zerik_WriteDspBuffer(DeviceContext* dev, int32_t dsp, int32_t address,
                                       uint32_t byte_count, const void* bytes) {
    if (dev == nullptr) return kBadArgument;
    if (byte_count == 0) return kOk;
    if (bytes == nullptr) return kBadArgument;
    const auto* data = static_cast<const uint8_t*>(bytes);
    // An odd count is raised to whole words; the missing last byte is 0,
    // never read from beyond the caller's count.
    const uint64_t padded = (static_cast<uint64_t>(byte_count) + 1) & ~uint64_t{1};
    uint32_t word_address = static_cast<uint32_t>(address);
    int32_t status = kOk;
    for (uint64_t pos = 0; pos < padded; pos += kDspChunkBytes) {
        const uint32_t chunk =
            static_cast<uint32_t>(std::min<uint64_t>(kDspChunkBytes, padded - pos));
        uint16_t words[kMaxDspWords];
        for (uint32_t i = 0; i < chunk / 2; ++i) {
            const uint64_t first = pos + 2 * i;
            const uint16_t low = data[first];
            const uint16_t high = first + 1 < byte_count ? data[first + 1] : 0;
            words[i] = static_cast<uint16_t>(low | high << 8);
        }
        status = Zerik_WriteDsp(dev, dsp, static_cast<int32_t>(word_address),
                                static_cast<int32_t>(chunk / 2), words);
        if (status != kOk) return status;
        word_address += chunk / 2;
    }
    return status;
}

ZERIK_API int32_t Zerik_WriteDspUshort(DeviceContext* dev, int32_t dsp, int32_t address,
                                       int32_t value) {
    const uint16_t word = SwapBytes(static_cast<uint16_t>(value & 0xFFFF));
    return Zerik_WriteDsp(dev, dsp, address, 1, &word);
}

ZERIK_API int32_t Zerik_ReadDspUshort(DeviceContext* dev, int32_t dsp, int32_t address,
                                      uint16_t* out) {
    if (dev != nullptr && out == nullptr) {
        // Checked in the usual order: the context's state first.
        if (const int32_t status = CheckContext(dev); status != kOk) return status;
        return kBadArgument;
    }
    uint16_t word = 0;
    const int32_t status = Zerik_ReadDsp(dev, dsp, address, 1, &word);
    if (status == kOk) *out = SwapBytes(word);
    return status;
}

}  // extern "C"
