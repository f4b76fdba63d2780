// Scan set-up: the fixed sequence of register writes, DSP word writes and
// flash-to-DSP table copies that prepares a scan, and its single steps.
#include "scan_setup.h"

#include <cstring>

#include "command.h"
#include "texts.h"

namespace zerik {
namespace {

constexpr uint8_t kCopyFromFlash = 0x11;
constexpr uint8_t kSetMotorRateCode = 0x12;
constexpr uint8_t kDefaultGamma = 0x14;

struct LedLength {
    uint8_t bit;
    uint16_t full_length;  // divided among the lit LEDs in layer modes 1 and 2
};
// LEDs 0x01 to 0x08, the ones whose length the set-up divides.
constexpr LedLength kDividedLeds[] = {{0x01, 650}, {0x02, 450}, {0x04, 350}, {0x08, 350}};
// Layer mode 2's extra exposures, never divided.
constexpr LedLength kLayer2Extra[] = {{0x10, 216}, {0x20, 150}, {0x40, 116}};

constexpr uint16_t kLedRegisters[8] = {0xC013, 0xC00F, 0xC00B, 0xC007,
                                       0xC015, 0xC011, 0xC00D, 0xC009};

// The set-up's DSP addresses; SetScanParamsEx may move all four.
struct DspAddresses {
    uint16_t dpi = kDspDpiWord;
    uint16_t layer = kDspLayerWord;
    uint16_t norm_switch = kDspNormSwitch;
    uint16_t coefficients = kDspCoefficientArea;
};

uint16_t OrDefault(int32_t address, uint16_t fallback) {
    const auto low = static_cast<uint16_t>(address & 0xFFFF);
    return low != 0 ? low : fallback;
}

int32_t WriteRegister8(DeviceContext* dev, uint16_t address, uint8_t value) {
    return Zerik_WriteAddress(dev, address, 1, &value);
}

int32_t WriteRegister16(DeviceContext* dev, uint16_t address, uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
    return Zerik_WriteAddress(dev, address, 2, bytes);
}

int SetBitCount(uint32_t bits) {
    int count = 0;
    for (; bits != 0; bits &= bits - 1) ++count;
    return count;
}

// Payload of commands 0x11 and 0x14: flash byte address, DSP word address,
// DSP number, word count.
std::array<uint8_t, 9> CopyPayload(uint32_t flash_address, uint16_t dsp_address, uint8_t dsp,
                                   uint16_t words) {
    return {static_cast<uint8_t>(flash_address),
            static_cast<uint8_t>(flash_address >> 8),
            static_cast<uint8_t>(flash_address >> 16),
            static_cast<uint8_t>(flash_address >> 24),
            static_cast<uint8_t>(dsp_address),
            static_cast<uint8_t>(dsp_address >> 8),
            dsp,
            static_cast<uint8_t>(words),
            static_cast<uint8_t>(words >> 8)};
}

// Each of LEDs 0x01..0x08 set in led gets its full length divided by the
// number of them that are set. Layer mode 1 verifies every length.
int32_t SetDividedLengths(DeviceContext* dev, int32_t led, bool layer1) {
    const int lit = SetBitCount(static_cast<uint32_t>(led) & 0x0F);
    const int n = lit != 0 ? lit : 1;
    for (const LedLength& entry : kDividedLeds) {
        if ((led & entry.bit) == 0) continue;
        const int32_t length = entry.full_length / n;
        const int32_t result = Zerik_SetLedLightLen(dev, entry.bit, length);
        if (layer1) {
            int32_t read_back = 0;
            Zerik_GetLedLightLen(dev, entry.bit, &read_back);
            if (read_back != length) return kDeviceFailure;
        } else if (result != kOk && entry.bit != 0x08) {
            // In layer mode 2 the length of LED 0x08 goes on whatever its result.
            return result;
        }
    }
    return kOk;
}

int32_t SetLeds(DeviceContext* dev, int32_t layer, int32_t led) {
    int32_t result = kOk;
    if (layer == 3) {
        result = WriteRegister8(dev, kRegLedEnable, led != 0 ? 7 : 0);
        if (result != kOk) return result;
        for (const LedLength& entry : {kDividedLeds[0], kDividedLeds[1], kDividedLeds[2]}) {
            result = Zerik_SetLedLightLen(dev, entry.bit, entry.full_length);
            if (result != kOk) return result;
        }
        return kOk;
    }
    if (layer == 2) {
        const auto mask = static_cast<uint8_t>(led != 0 ? ((led & 0x0F) | 0x70) : 0);
        result = WriteRegister8(dev, kRegLedEnable, mask);
        if (result != kOk) return result;
        result = SetDividedLengths(dev, led, false);
        if (result != kOk) return result;
        for (const LedLength& entry : kLayer2Extra) {
            result = Zerik_SetLedLightLen(dev, entry.bit, entry.full_length);
            if (result != kOk) return result;
        }
        return kOk;
    }
    const auto mask = static_cast<uint8_t>(led & 0x0F);
    WriteRegister8(dev, kRegLedEnable, mask);
    uint8_t read_back = 0;
    Zerik_ReadAddress(dev, kRegLedEnable, 1, &read_back);
    if (read_back != mask) return kDeviceFailure;
    return SetDividedLengths(dev, led, true);
}

int32_t WriteBothDsps(DeviceContext* dev, uint16_t address, int32_t value) {
    for (int32_t dsp = 0; dsp < 2; ++dsp) {
        const int32_t result = Zerik_WriteDspUshort(dev, dsp, address, value);
        if (result != kOk) return result;
    }
    return kOk;
}

// True when the 32 bytes at flash address begin with tag.
int32_t FlashHeaderIs(DeviceContext* dev, uint32_t address, const char* tag, bool* matches) {
    uint8_t header[kFlashPageHeader] = {};
    const int32_t result = Zerik_ReadFlash(dev, address, header, sizeof(header));
    if (result != kOk) return result;
    *matches = std::memcmp(header, tag, std::strlen(tag)) == 0;
    return kOk;
}

int32_t LoadGammaTables(DeviceContext* dev, int32_t layer, int32_t norm_en, int32_t gamma_en,
                        int32_t led) {
    int32_t is_default = 1;
    if (gamma_en != 0) {
        bool stored = false;
        const int32_t result = FlashHeaderIs(dev, 0, "GAMMA", &stored);
        if (result != kOk) return result;
        is_default = stored ? 0 : 1;
    } else if (led == 8 && layer == 1 && norm_en != 0) {
        // Entries travel low byte first, as Zerik_WriteDspUshort sends them.
        std::array<uint8_t, 2 * kBuiltInGamma.size()> bytes{};
        for (std::size_t i = 0; i < kBuiltInGamma.size(); ++i) {
            bytes[2 * i] = 0;
            bytes[2 * i + 1] = kBuiltInGamma[i];
        }
        for (int32_t dsp = 0; dsp < 2; ++dsp) {
            const int32_t result =
                Zerik_WriteDspBuffer(dev, dsp, kDspGammaArea, bytes.size(), bytes.data());
            if (result != kOk) return result;
        }
        return kOk;
    }
    for (int32_t dsp = 0; dsp < 2; ++dsp) {
        Zerik_LoadGammaTable(dev, is_default,
                             kFlashGammaTables + static_cast<uint32_t>(dsp) * 0x600, kDspGammaArea,
                             dsp);
    }
    return kOk;
}

int32_t LoadNormalisation(DeviceContext* dev, int32_t layer, int32_t led, const DspAddresses& at) {
    for (int dsp = 0; dsp < 2; ++dsp) {
        for (int i = 0; i < layer; ++i) {
            const uint32_t page = NormPage(layer, led, dsp, i);
            bool present = false;
            int32_t result = FlashHeaderIs(dev, page * kFlashPageSize, "NORM", &present);
            if (result != kOk) return result;
            if (!present) {
                if (dsp == 0) {
                    dev->Log(text::kNoNormCoff, static_cast<int>(page));
                    return kDeviceFailure;
                }
                continue;
            }
            result = LoadNormCoff(dev, page * kFlashPageSize + kFlashPageHeader,
                                  static_cast<uint16_t>(at.coefficients + i * kCoefficientWords),
                                  static_cast<uint8_t>(dsp));
            if (result != kOk) return result;
        }
        const int32_t result = Zerik_WriteDspUshort(dev, dsp, at.norm_switch, 1);
        if (result != kOk) return result;
    }
    return kOk;
}

int32_t SetScanParams(DeviceContext* dev, int32_t layer, int32_t dpi, int32_t norm_en,
                      int32_t gamma_en, int32_t led, const DspAddresses& at) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    dev->Log(text::kSetScanParams, layer, dpi, norm_en, gamma_en, led);
    // The mode byte, line lengths and flash pages exist for 1 to 3 layers only.
    if (layer < 1 || layer > 3) return kBadArgument;

    const ScanGeometry geometry = GeometryFor(dev->DevType.load(), dpi, layer);
    int32_t result =
        WriteRegister8(dev, kRegLayerMode, static_cast<uint8_t>(0x08 | (1 << (layer - 1))));
    if (result != kOk) return result;
    const auto line_length = static_cast<uint16_t>(geometry.line_length * layer);
    for (const uint16_t reg : {kRegLineLength, kRegLineLength2}) {
        result = WriteRegister16(dev, reg, line_length);
        if (result != kOk) return result;
    }
    result = Zerik_SetMotorRate(dev, geometry.motor_rate);
    if (result != kOk) return result;
    result = WriteBothDsps(dev, at.layer, layer);
    if (result != kOk) return result;
    result = SetLeds(dev, layer, led);
    if (result != kOk) return result;
    result = WriteRegister16(dev, kRegScanTiming, geometry.timing_word);
    if (result != kOk) return result;
    result = WriteBothDsps(dev, at.dpi, dpi);
    if (result != kOk) return result;
    result = LoadGammaTables(dev, layer, norm_en, gamma_en, led);
    if (result != kOk) return result;

    if (norm_en == 0 || led == 0) {
        result = Zerik_WriteDspUshort(dev, 0, at.norm_switch, 0);
        if (result != kOk) return result;
        return Zerik_WriteDspUshort(dev, 1, at.norm_switch, 0);
    }
    return LoadNormalisation(dev, layer, led, at);
}

}  // namespace

uint16_t LedLengthRegister(uint32_t led_mask) {
    for (int bit = 0; bit < 8; ++bit) {
        if ((led_mask >> bit) & 1) return kLedRegisters[bit];
    }
    return 0;
}

ScanGeometry GeometryFor(int32_t dev_type, int32_t dpi, int32_t layer) {
    // A type other than 0 is a ZERIK2 model: its line lengths and timing;
    // the motor rate of an unknown type is that of 200 dpi.
    const bool type0 = dev_type == 0;
    const bool known_type = dev_type == 0 || dev_type == 1;
    ScanGeometry g{};
    switch (dpi) {
        case 200:
            g = {static_cast<uint16_t>(type0 ? 9216 : 2958), 0,
                 static_cast<uint16_t>(layer == 1 ? 978 : 976)};
            break;
        case 150:
            g = {static_cast<uint16_t>(type0 ? 5184 : 1663), 1, 732};
            break;
        case 133:
            g = {static_cast<uint16_t>(type0 ? 4608 : 1479), 2, 732};
            break;
        case 100:
            g = {static_cast<uint16_t>(type0 ? 3072 : 1479), 3,
                 static_cast<uint16_t>(type0 ? 651 : 976)};
            break;
        case 50:
            g = {static_cast<uint16_t>(type0 ? 3072 : 1479), 3,
                 static_cast<uint16_t>(type0 ? 1302 : 976)};
            break;
        default:
            g = {static_cast<uint16_t>(type0 ? 9216 : 2958), 0, 978};
            break;
    }
    if (!known_type) g.motor_rate = 0;
    return g;
}

uint32_t NormPage(int32_t layer, int32_t led, int dsp, int layer_index) {
    const auto low_leds = static_cast<uint32_t>(led) & 0x0F;
    switch (layer) {
        case 1:
            return static_cast<uint32_t>(dsp) + 2 * low_leds;
        case 2: {
            uint32_t lowest = 0;
            while (low_leds != 0 && ((low_leds >> lowest) & 1) == 0) ++lowest;
            return 32 + 4 * lowest + 2 * static_cast<uint32_t>(dsp) +
                   static_cast<uint32_t>(layer_index);
        }
        default:
            return 48 + 3 * static_cast<uint32_t>(dsp) + static_cast<uint32_t>(layer_index);
    }
}

// clang-format off
const std::array<uint8_t, 256> kBuiltInGamma = {
      0,   0,   1,   1,   1,   1,   2,   2,   2,   2,   3,   3,   3,   4,   4,   4,
      4,   5,   5,   5,   5,   6,   6,   6,   6,   7,   7,   7,   8,   8,   8,   8,
      9,   9,   9,   9,  10,  10,  10,  11,  11,  11,  11,  12,  12,  12,  12,  13,
     13,  13,  13,  14,  14,  14,  15,  15,  15,  15,  16,  16,  16,  16,  17,  17,
     18,  19,  21,  22,  23,  24,  25,  27,  28,  29,  30,  31,  33,  34,  35,  36,
     38,  39,  40,  41,  42,  44,  45,  46,  47,  48,  50,  51,  52,  53,  54,  56,
     57,  58,  60,  61,  63,  65,  66,  68,  70,  71,  73,  74,  76,  78,  79,  81,
     83,  84,  86,  88,  89,  91,  93,  94,  96,  97,  99, 101, 102, 104, 106, 107,
    109, 111, 112, 114, 116, 117, 119, 120, 122, 124, 125, 127, 129, 130, 132, 134,
    135, 137, 138, 140, 141, 143, 144, 146, 147, 149, 150, 152, 153, 155, 156, 158,
    159, 161, 162, 164, 165, 167, 168, 170, 171, 173, 174, 176, 178, 179, 181, 182,
    184, 185, 187, 188, 190, 191, 193, 194, 196, 197, 199, 200, 202, 203, 205, 206,
    208, 209, 211, 212, 214, 215, 217, 218, 220, 221, 223, 224, 224, 225, 225, 226,
    227, 227, 228, 228, 229, 230, 230, 231, 231, 232, 233, 233, 234, 234, 235, 236,
    236, 237, 237, 238, 239, 239, 240, 241, 241, 242, 242, 243, 244, 244, 245, 246,
    247, 248, 249, 250, 250, 251, 251, 252, 252, 252, 254, 254, 254, 254, 255, 255,
};
// clang-format on

int32_t LoadNormCoff(DeviceContext* dev, uint32_t flash_address, uint16_t dsp_address,
                     uint8_t dsp) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    dev->Log(text::kLoadNormCoff, flash_address, static_cast<unsigned>(dsp_address),
             static_cast<int>(dsp));
    const auto payload = CopyPayload(flash_address, dsp_address, dsp, kCoefficientWords);
    Reply reply{};
    return MsgExchange(dev, kCopyFromFlash, payload, &reply);
}

}  // namespace zerik

using namespace zerik;

extern "C" {

ZERIK_API int32_t Zerik_SetScanParams(DeviceContext* dev, int32_t layer, int32_t dpi,
                                      int32_t norm_en, int32_t gamma_en, int32_t led) {
    return SetScanParams(dev, layer, dpi, norm_en, gamma_en, led, DspAddresses{});
}

ZERIK_API int32_t Zerik_SetScanParamsEx(DeviceContext* dev, int32_t layer, int32_t dpi,
                                        int32_t norm_en, int32_t gamma_en, int32_t led,
                                        int32_t dpi_address, int32_t layer_address,
                                        int32_t norm_switch_address, int32_t coefficient_address) {
    DspAddresses at;
    at.dpi = OrDefault(dpi_address, kDspDpiWord);
    at.layer = OrDefault(layer_address, kDspLayerWord);
    at.norm_switch = OrDefault(norm_switch_address, kDspNormSwitch);
    at.coefficients = OrDefault(coefficient_address, kDspCoefficientArea);
    return SetScanParams(dev, layer, dpi, norm_en, gamma_en, led, at);
}

ZERIK_API int32_t Zerik_SetMotorRate(DeviceContext* dev, int32_t rate) {
    if (dev == nullptr) return kBadArgument;
    dev->Log(text::kSetMotorRate, rate);
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    const uint8_t payload[1] = {static_cast<uint8_t>(rate)};
    Reply reply{};
    return MsgExchange(dev, kSetMotorRateCode, payload, &reply);
}

ZERIK_API int32_t Zerik_SetLedLightLen(DeviceContext* dev, int32_t led_mask, int32_t length) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    const uint8_t bytes[2] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    for (int bit = 0; bit < 8; ++bit) {
        if ((led_mask >> bit) & 1) Zerik_WriteAddress(dev, kLedRegisters[bit], 2, bytes);
    }
    return kOk;
}

ZERIK_API int32_t Zerik_GetLedLightLen(DeviceContext* dev, int32_t led_mask, int32_t* length) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    if (length == nullptr) return kBadArgument;
    const uint16_t reg = LedLengthRegister(static_cast<uint32_t>(led_mask));
    if (reg == 0) {
        *length = 0;
        return kOk;
    }
    // A failed read leaves 0 rather than stale bytes.
    uint8_t bytes[2] = {};
    if (Zerik_ReadAddress(dev, reg, 2, bytes) != kOk) {
        bytes[0] = 0;
        bytes[1] = 0;
    }
    *length = bytes[0] + 256 * bytes[1];
    return kOk;
}

ZERIK_API int32_t Zerik_LoadGammaTable(DeviceContext* dev, int32_t is_default,
                                       uint32_t flash_address, int32_t dsp_address, int32_t dsp) {
    if (const int32_t checked = CheckContext(dev); checked != kOk) return checked;
    const auto address = static_cast<uint16_t>(dsp_address);
    const auto dsp_id = static_cast<uint8_t>(dsp);
    dev->Log(text::kLoadGammaTable, is_default, flash_address, static_cast<unsigned>(address),
             static_cast<int>(dsp_id));
    const auto payload = CopyPayload(flash_address, address, dsp_id, kGammaWords);
    Reply reply{};
    return MsgExchange(dev, is_default != 0 ? kDefaultGamma : kCopyFromFlash, payload, &reply);
}

}  // extern "C"
