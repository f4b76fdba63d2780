// Machine controls: single command exchanges for the paper path and the
// peripherals, register read-modify-writes for the motors and the FM output,
// and the normalisation action.
#include "machine_controls.h"

#include <cstring>
#include <initializer_list>

#include "command.h"
#include "texts.h"

namespace zerik {
namespace {

constexpr uint8_t kSensorValues = 0x07;
constexpr uint8_t kScan = 0x08;
constexpr uint8_t kSensorAdjust = 0x09;
constexpr uint8_t kSettings = 0x0B;
constexpr uint8_t kMachineState = 0x13;
constexpr uint8_t kPrinter = 0x15;
constexpr uint8_t kLcd = 0x16;
constexpr uint8_t kSorter = 0x17;
constexpr uint8_t kUsbIdentity = 0x18;
constexpr uint8_t kEeprom = 0x19;

// Sub-codes of the settings command.
constexpr uint8_t kPaperCount = 0;
constexpr uint8_t kPaperCheck = 1;
constexpr uint8_t kPaperType = 2;
constexpr uint8_t kSortType = 3;
constexpr uint8_t kDeviceType = 4;

constexpr std::size_t kMaxText = 50;
constexpr int32_t kMaxE2promBytes = kMsgSize - 3;
constexpr int kNormStarted = 1;
constexpr int kNormFinished = 3;
constexpr int kNormFailed = 4;

int32_t Exchange(DeviceContext* dev, uint8_t code, std::initializer_list<uint8_t> payload,
                 Reply* reply = nullptr) {
    Reply ignored{};
    return MsgExchange(dev, code, std::span<const uint8_t>(payload.begin(), payload.size()),
                       reply != nullptr ? reply : &ignored);
}

// Settings command with a one-byte value, logged with its own entry line.
int32_t Setting(DeviceContext* dev, const char* entry_line, uint8_t sub_code, int32_t value) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    dev->Log(entry_line, value);
    return Exchange(dev, kSettings, {sub_code, static_cast<uint8_t>(value)});
}

// Length of text when it holds at most 50 characters; -1 when it is longer.
int32_t TextLength(const char* text) {
    const std::size_t length = strnlen(text, kMaxText + 1);
    return length > kMaxText ? -1 : static_cast<int32_t>(length);
}

int32_t ReadRegister(DeviceContext* dev, uint16_t address, uint8_t* value) {
    return Zerik_ReadAddress(dev, address, 1, value);
}

int32_t WriteRegister(DeviceContext* dev, uint16_t address, uint8_t value) {
    return Zerik_WriteAddress(dev, address, 1, &value);
}

}  // namespace

void NoteNormEvent(DeviceContext* dev, uint16_t code) {
    const auto event = static_cast<uint8_t>(code & 0xFF);
    if (event != kEventNormDone && event != kEventNormFailed) return;
    const int dsp = (code >> 8) & 1;
    // Only an action that was started can end.
    int32_t expected = kNormStarted;
    dev->NormState[dsp].compare_exchange_strong(
        expected, event == kEventNormDone ? kNormFinished : kNormFailed);
}

}  // namespace zerik

using namespace zerik;

extern "C" {

ZERIK_API int32_t Zerik_StartScan(DeviceContext* dev) {
    if (dev == nullptr) return kBadArgument;
    dev->Log(text::kStartScan);
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    return Exchange(dev, kScan, {1});
}

ZERIK_API int32_t Zerik_StopScan(DeviceContext* dev) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    return Exchange(dev, kScan, {0});
}

ZERIK_API int32_t Zerik_ResetTH(DeviceContext* dev) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    return Exchange(dev, kSensorAdjust, {0});
}

ZERIK_API int32_t Zerik_AdjustSensor(DeviceContext* dev) {
    if (dev == nullptr) return kBadArgument;
    dev->Log(text::kAdjustSensor);
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    return Exchange(dev, kSensorAdjust, {1});
}

ZERIK_API int32_t Zerik_SetScanPapers(DeviceContext* dev, int32_t count, int32_t value) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    dev->Log(text::kSetScanPapers, count, value);
    const uint16_t word = value > 100 ? static_cast<uint16_t>(value) : 0;
    return Exchange(dev, kSettings,
                    {kPaperCount, static_cast<uint8_t>(count), static_cast<uint8_t>(word & 0xFF),
                     static_cast<uint8_t>(word >> 8)});
}

ZERIK_API int32_t Zerik_SetCheckPaperTH(DeviceContext* dev, int32_t value) {
    return Setting(dev, text::kSetCheckPaperTH, kPaperCheck, value);
}

ZERIK_API int32_t Zerik_SetPaperType(DeviceContext* dev, int32_t type) {
    return Setting(dev, text::kSetPaperType, kPaperType, type);
}

ZERIK_API int32_t Zerik_SetSortType(DeviceContext* dev, int32_t type) {
    return Setting(dev, text::kSetSortType, kSortType, type);
}

ZERIK_API int32_t Zerik_BurnDeviceType(DeviceContext* dev, int32_t type) {
    return Setting(dev, text::kBurnDeviceType, kDeviceType, type);
}

ZERIK_API int32_t Zerik_SortPaper(DeviceContext* dev, int32_t value) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    dev->Log(text::kSortPaper, value);
    return Exchange(dev, kSorter, {static_cast<uint8_t>(value == 0 ? 1 : 0)});
}

ZERIK_API int32_t Zerik_GetMcState(DeviceContext* dev, int32_t* state) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    if (state == nullptr) return kBadArgument;
    dev->Log(text::kGetMcState);
    Reply reply{};
    const int32_t result = Exchange(dev, kMachineState, {}, &reply);
    if (result == kOk) *state = reply[3];
    return result;
}

ZERIK_API int32_t Zerik_ReadSensorValue(DeviceContext* dev, int32_t* values) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    if (values == nullptr) return kBadArgument;
    Reply reply{};
    const int32_t result = MsgExchange(dev, kSensorValues, {}, &reply, TimeoutLog::Silent);
    if (result != kOk) return result;
    for (int i = 0; i < 16; ++i) values[i] = reply[3 + 2 * i] + 256 * reply[4 + 2 * i];
    return kOk;
}

ZERIK_API int32_t Zerik_PrinterCtrl(DeviceContext* dev, int32_t on, const char* text) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    // Printing needs a text; switching off takes none.
    if (text == nullptr && on != 0) return kBadArgument;
    const int32_t length = text != nullptr ? TextLength(text) : 0;
    if (length < 0) return kBadArgument;
    dev->Log(text::kPrinterCtrl);
    std::array<uint8_t, kMaxText + 2> payload{};
    std::size_t size = 1;
    if (on != 0) {
        payload[0] = 1;
        std::memcpy(payload.data() + 1, text, static_cast<std::size_t>(length));
        size = static_cast<std::size_t>(length) + 2;  // the terminating zero is already there
    }
    Reply reply{};
    return MsgExchange(dev, kPrinter, std::span<const uint8_t>(payload.data(), size), &reply);
}

ZERIK_API int32_t Zerik_LcdCtrl(DeviceContext* dev, int32_t line, const char* text) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    if (text == nullptr) return kBadArgument;
    const int32_t length = TextLength(text);
    if (length < 0) return kBadArgument;
    dev->Log(text::kLcdCtrl);
    std::array<uint8_t, kMaxText + 2> payload{};
    payload[0] = static_cast<uint8_t>(line);
    std::memcpy(payload.data() + 1, text, static_cast<std::size_t>(length));
    Reply reply{};
    return MsgExchange(
        dev, kLcd, std::span<const uint8_t>(payload.data(), static_cast<std::size_t>(length) + 2),
        &reply);
}

ZERIK_API int32_t Zerik_BurnDeviceVIDPID(DeviceContext* dev, const uint8_t* identity) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    if (identity == nullptr) return kBadArgument;
    dev->Log(text::kBurnVidPid);
    for (int i = 0; i < 8; ++i) dev->Log(text::kVidPidOut, i, static_cast<unsigned>(identity[i]));
    Reply reply{};
    const int32_t result =
        MsgExchange(dev, kUsbIdentity, std::span<const uint8_t>(identity, 8), &reply);
    if (result != kOk) return result;
    for (int i = 0; i < 8; ++i) dev->Log(text::kVidPidIn, i, static_cast<unsigned>(reply[3 + i]));
    return kOk;
}

ZERIK_API int32_t Zerik_ReadE2prom(DeviceContext* dev, int32_t count, int32_t address,
                                   uint8_t* out) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    // A reply holds at most 61 bytes after its three header bytes.
    const auto wanted = static_cast<uint8_t>(count);
    if (wanted > kMaxE2promBytes || (wanted != 0 && out == nullptr)) return kBadArgument;
    Reply reply{};
    const int32_t result = Exchange(dev, kEeprom, {wanted, static_cast<uint8_t>(address)}, &reply);
    if (result != kOk) return result;
    for (int i = 0; i < wanted; ++i) {
        out[i] = reply[3 + static_cast<std::size_t>(i)];
        dev->Log(text::kE2promByte, i, static_cast<unsigned>(out[i]));
    }
    return kOk;
}

ZERIK_API int32_t Zerik_MotorCtrl(DeviceContext* dev, int32_t motor, int32_t high, int32_t low) {
    if (motor >= 0 && motor <= 2) {
        // A failed read would write back a guess over the other motors' bits.
        uint8_t enable = 0;
        if (ReadRegister(dev, kRegMotorEnable, &enable) == kOk) {
            WriteRegister(dev, kRegMotorEnable, static_cast<uint8_t>(enable | (2 << motor)));
        }
    }
    uint8_t bits = 0;
    const int32_t result = ReadRegister(dev, kRegMotorBits, &bits);
    if (result != kOk) return result;
    uint8_t value;
    if (motor == 0) {
        value = static_cast<uint8_t>((bits & 0xFC) | (high != 0 ? 2 : 0) | (low == 0 ? 1 : 0));
    } else if (motor == 1 || motor == 2) {
        const int shift = 2 * motor;
        const int pair = (high != 0 ? 2 : 0) | (low != 0 ? 1 : 0);
        value = static_cast<uint8_t>((bits & ~(3 << shift)) | (pair << shift));
    } else {
        return kOk;
    }
    return WriteRegister(dev, kRegMotorBits, value);
}

ZERIK_API int32_t Zerik_FmCtrl(DeviceContext* dev, int32_t on) {
    uint8_t bits = 0;
    const int32_t result = ReadRegister(dev, kRegMotorBits, &bits);
    if (result != kOk) return result;
    const auto value = static_cast<uint8_t>(on != 0 ? (bits | 0x80) : (bits & 0x7F));
    return WriteRegister(dev, kRegMotorBits, value);
}

ZERIK_API int32_t Zerik_StartNormAction(DeviceContext* dev, int32_t layer, int32_t led) {
    if (led == 0 || dev == nullptr) return kBadArgument;
    dev->Log(text::kStartNormAction, layer, static_cast<unsigned>(led));
    Zerik_SetScanParams(dev, layer, 200, 0, 0, 0);
    Zerik_SetScanPapers(dev, 1, 0);
    dev->NormLayer.store(layer);
    dev->NormLed.store(led);
    dev->NormState[0].store(kNormStarted);
    dev->NormState[1].store(kNormStarted);
    return kOk;
}

ZERIK_API int32_t Zerik_NormStatusCheck(DeviceContext* dev, int32_t* success) {
    if (dev == nullptr || success == nullptr) return kBadArgument;
    const int32_t s0 = dev->NormState[0].load();
    const int32_t s1 = dev->NormState[1].load();
    int32_t ended_well;
    if (s0 == kNormFinished && s1 == kNormFinished) {
        ended_well = 1;
    } else if (s0 == kNormFailed || s1 == kNormFailed) {
        ended_well = 0;
    } else if (s0 == kNormFinished && s1 == kNormStarted) {
        ended_well = 1;
    } else {
        *success = 0;
        return 0;
    }
    dev->NormState[0].store(0);
    dev->NormState[1].store(0);
    *success = ended_well;
    return 1;
}

}  // extern "C"
