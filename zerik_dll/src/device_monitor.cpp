// DevMonThread: owns the link to the scanner. It connects the scanner, brings
// it up (type, flash, DSP firmware), keeps the link alive and notices its loss.
#include "device_monitor.h"

#include <cstring>
#include <string>

#include "command.h"
#include "log.h"
#include "texts.h"
#include "transport.h"

namespace zerik {
namespace {

constexpr uint32_t kMonitorPauseMs = 500;
constexpr uint32_t kSettlePauseMs = 200;     // after the pipe test passed
constexpr uint32_t kHeartbeatGapMs = 200;    // between the two DSP readings
constexpr uint32_t kAfterLoadPauseMs = 300;  // for the started firmware
constexpr int32_t kLinkedKeepAlive = 200;
constexpr int32_t kStoppingKeepAlive = 0;

constexpr uint8_t kKeepAliveCode = 0x0A;
constexpr uint8_t kTypeQueryCode = 0x13;
constexpr std::size_t kDevTypeByte = 4;

constexpr int32_t kHeartbeatWord = 0x7F82;
constexpr int32_t kVersionWord = 0x7F80;

// The firmware path is built as in a buffer of 260 characters.
constexpr std::size_t kMaxPath = 260;

// Controller writes that reset both DSPs: address, byte, pause after.
struct ResetStep {
    int32_t address;
    uint8_t value;
    uint32_t pause_ms;
};
constexpr ResetStep kDspReset[] = {
    {0xC019, 0x00, 0},
    {0xC02C, 0x01, 100},
    {0xC019, 0x03, 300},
    {0xC02C, 0x02, 0},
};

struct Reading {
    int32_t status;
    uint16_t value;
};

Reading ReadHeartbeat(DeviceContext* dev, int dsp) {
    Reading reading{kOk, 0};
    reading.status = Zerik_ReadDspUshort(dev, dsp, kHeartbeatWord, &reading.value);
    return reading;
}

// A DSP whose heartbeat did not move counts as not running; two failed
// readings count as equal, one failed and one good as different.
bool Stands(const Reading& first, const Reading& second) {
    const bool first_ok = first.status == kOk;
    const bool second_ok = second.status == kOk;
    if (!first_ok && !second_ok) return true;
    if (first_ok != second_ok) return false;
    return first.value == second.value;
}

void LoadFirmware(DeviceContext* dev) {
    Zerik_ResetDsp(dev);
    const std::string path = FirmwarePath();
    dev->Log(Zerik_LoadDspFW(dev, 0, path.c_str()) != kOk ? text::kLoadDsp0Failed
                                                          : text::kLoadDsp0Done);
    dev->Log(Zerik_LoadDspFW(dev, 1, path.c_str()) != kOk ? text::kLoadDsp1Failed
                                                          : text::kLoadDsp1Done);
    os::SleepMs(kAfterLoadPauseMs);
}

// Runs within the pass whose connection attempt succeeded; failures along
// the way do not stop it, and Ready is set at its end in any case.
void BringUp(DeviceContext* dev) {
    dev->Connected.store(1);
    os::SleepMs(kSettlePauseMs);

    int32_t type = 0;
    if (Zerik_GetDevType(dev, &type) == kOk) dev->DevType.store(type);
    dev->Log(text::kConnected,
             dev->DevType.load() != 0 ? text::kDevTypeZerik2 : text::kDevTypeTallon);

    Zerik_CheckFlashChip(dev);

    const Reading first[2] = {ReadHeartbeat(dev, 0), ReadHeartbeat(dev, 1)};
    os::SleepMs(kHeartbeatGapMs);
    const Reading second[2] = {ReadHeartbeat(dev, 0), ReadHeartbeat(dev, 1)};
    if (Stands(first[0], second[0]) || Stands(first[1], second[1])) LoadFirmware(dev);

    uint16_t version = 0;
    Zerik_ReadDspUshort(dev, 0, kVersionWord, &version);
    dev->Log(text::kDspRunning, static_cast<unsigned>(version));

    Zerik_SendKeepAlive(dev, kLinkedKeepAlive);
    dev->Ready.store(1);
}

}  // namespace

std::string FirmwarePath() {
    const std::string dir = os::SystemDirectory();
    // The path and its terminating zero must fit the buffer.
    if (dir.size() + std::strlen(text::kFirmwareFile) >= kMaxPath) return std::string();
    return dir + text::kFirmwareFile;
}

int32_t Zerik_GetDevType(DeviceContext* dev, int32_t* type) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    dev->Log(text::kGetDevType);
    if (type == nullptr) return kBadArgument;
    Reply reply{};
    const int32_t status = MsgExchange(dev, kTypeQueryCode, {}, &reply);
    if (status != kOk) return status;
    *type = reply[kDevTypeByte];
    return kOk;
}

void DevMonThread(void* arg) {
    auto* dev = static_cast<DeviceContext*>(arg);
    dev->Log(text::kDevMonStart);
    while (dev->DevMonStop.load() == 0) {
        if (dev->Connected.load() == 1 && Zerik_SendKeepAlive(dev, kLinkedKeepAlive) != kOk) {
            dev->Connected.store(0);
            dev->Log(text::kDisconnected);
        }
        if (dev->Connected.load() == 0 && OpenDriverPipes(dev)) BringUp(dev);
        os::SleepMs(kMonitorPauseMs);
    }
    Zerik_SendKeepAlive(dev, kStoppingKeepAlive);
    dev->DevMonStop.store(0);
    LibraryLog(text::kDevMonExit);
    ReleaseContext(dev);
}

void SendClosingKeepAlive(DeviceContext* dev) {
    Zerik_SendKeepAlive(dev, kStoppingKeepAlive);
}

}  // namespace zerik

using namespace zerik;

extern "C" {

ZERIK_API int32_t Zerik_SendKeepAlive(DeviceContext* dev, int32_t value) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    const driver::DeviceRef link = dev->Driver();
    if (!link) return kDeviceFailure;
    const auto bits = static_cast<uint32_t>(value);
    const uint8_t packet[] = {kKeepAliveCode, 0x00, 0x02, static_cast<uint8_t>(bits & 0xFF),
                              static_cast<uint8_t>((bits >> 8) & 0xFF)};
    bool written;
    {
        // Held around the write only: no reply is awaited.
        os::NamedMutexLock lock(dev->MsgMutex.get(), os::kInfinite);
        written = PipeWrite(link.get(), kCommandPipe, packet, sizeof packet, kPipeTimeoutMs);
    }
    return written ? kOk : kDeviceFailure;
}

ZERIK_API int32_t Zerik_ResetDsp(DeviceContext* dev) {
    if (const int32_t status = CheckContext(dev); status != kOk) return status;
    for (const ResetStep& step : kDspReset) {
        Zerik_WriteAddress(dev, step.address, 1, &step.value);
        if (step.pause_ms > 0) os::SleepMs(step.pause_ms);
    }
    return kOk;
}

}  // extern "C"
