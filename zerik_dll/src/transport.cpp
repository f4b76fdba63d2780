#include "transport.h"

#include <array>

#include "log.h"
#include "texts.h"

namespace zerik {
namespace {

constexpr int kPipeTestTries = 3;
constexpr std::array<uint8_t, 3> kPipeTestRequest{0x00, 0x00, 0x00};

bool PipeTestAnswerIsRight(const std::array<uint8_t, kMsgSize>& answer) {
    for (uint32_t i = 0; i < kMsgSize; ++i) {
        if (answer[i] != i) return false;
    }
    return true;
}

}  // namespace

bool PipeRead(driver::Device* device, uint32_t pipe, void* buffer, uint32_t* length,
              uint32_t timeout_ms) {
    if (device == nullptr) return false;
    uint32_t count = *length;
    switch (driver::ActiveBackend().read(device, pipe, static_cast<uint8_t*>(buffer), &count,
                                         timeout_ms)) {
        case driver::IoStatus::Done:
            *length = count;
            return true;
        case driver::IoStatus::Timeout:
        case driver::IoStatus::Failed:
            break;
    }
    return false;
}

bool PipeWrite(driver::Device* device, uint32_t pipe, const void* data, uint32_t length,
               uint32_t timeout_ms) {
    if (device == nullptr) return false;
    uint32_t written = 0;
    const driver::IoStatus status = driver::ActiveBackend().write(
        device, pipe, static_cast<const uint8_t*>(data), length, &written, timeout_ms);
    return status == driver::IoStatus::Done && written > 0;
}

bool OpenDriverPipes(DeviceContext* dev) {
    if (dev->Connected.load() == 1) return true;
    // A link that failed its test or was lost is released before the paths
    // are opened again.
    dev->DropDriver();
    driver::DeviceRef device;
    for (int number = 0; number < kDevicePathCount && !device; ++number) {
        device = driver::OpenDevice(number);
    }
    if (!device) {
        dev->Log(text::kOpenFailed);
        return false;
    }
    dev->SetDriver(device);

    for (int attempt = 1; attempt <= kPipeTestTries; ++attempt) {
        PipeWrite(device.get(), kCommandPipe, kPipeTestRequest.data(), kPipeTestRequest.size(),
                  kPipeTimeoutMs);
        // The whole buffer is compared whatever count came back, so a short
        // answer fails.
        std::array<uint8_t, kMsgSize> answer{};
        uint32_t length = kMsgSize;
        if (!PipeRead(device.get(), kMessagePipe, answer.data(), &length, kPipeTimeoutMs)) {
            dev->Log(text::kPipeTestFailed1);
            Trace(text::kPipeTestNotice);
            return false;
        }
        if (PipeTestAnswerIsRight(answer)) {
            dev->Log(text::kPipeTestPassed);
            return true;
        }
    }
    dev->Log(text::kPipeTestFailed2);
    Trace(text::kPipeTestNotice);
    return false;
}

}  // namespace zerik
