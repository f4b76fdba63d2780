#include "flash_chip.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zerik::sim {
namespace {

constexpr std::size_t kPacketHeader = 8;  // code, 0, N, address (4 bytes), count
constexpr std::size_t kReplyData = 3;
constexpr std::size_t kMaxReadBytes = 64 - kReplyData;
constexpr std::size_t kMaxProgramBytes = 56;

constexpr uint32_t kPagedSector = 0x100;
constexpr uint32_t kJedecSector = 0x1000;
constexpr uint32_t kJedecFirst = 0x5555;
constexpr uint32_t kJedecSecond = 0x2AAA;

// The paged chip's protection sequences: reads at these addresses in order;
// they differ in the last one.
constexpr std::array<uint32_t, 7> kUnprotectReads = {0x1823, 0x1820, 0x1822, 0x0418,
                                                     0x041B, 0x0419, 0x041A};
constexpr std::array<uint32_t, 7> kProtectReads = {0x1823, 0x1820, 0x1822, 0x0418,
                                                   0x041B, 0x0419, 0x040A};

// The flash layout the scan set-up reads.
constexpr uint32_t kGammaTables = 0x20;
constexpr int kGammaEntries = 256;
constexpr int kLayers = 3;
constexpr uint32_t kBlock = 4096;
constexpr int kFirstNormPage = 2;
constexpr int kLastNormPage = 53;
constexpr int kCoefficients = 1728;
constexpr uint32_t kPageHeader = 32;

uint32_t Le32(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

void PutWord(std::vector<uint8_t>& image, uint32_t at, uint16_t word) {
    image[at] = static_cast<uint8_t>(word);
    image[at + 1] = static_cast<uint8_t>(word >> 8);
}

bool ParseId(const std::string& text, uint16_t* id) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 0);
    } catch (const std::exception&) {
        return false;
    }
    if (used != text.size() || (value != FlashChip::kPagedChip && value != FlashChip::kJedecChip)) {
        return false;
    }
    *id = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

FlashChip::FlashChip() : cells_(FactoryImage()) {}

uint16_t FlashChip::FactoryGamma(int dsp, int layer, int entry) {
    // A slightly different curve per DSP and layer, as calibration leaves them.
    const double exponent = 1.0 / (2.0 + 0.1 * layer + 0.05 * dsp);
    return static_cast<uint16_t>(std::lround(255.0 * std::pow(entry / 255.0, exponent)));
}

uint16_t FlashChip::FactoryCoefficient(int page, int index) {
    // Gains around 1.0 in 4.12 fixed point, rippling along the sensor.
    return static_cast<uint16_t>(0x1000 + (index * 37 + page * 11) % 97 - 48);
}

std::vector<uint8_t> FlashChip::FactoryImage() {
    std::vector<uint8_t> image(kSize, 0xFF);
    std::fill_n(image.begin(), kGammaTables, 0);
    std::memcpy(image.data(), "GAMMA", 5);
    for (int dsp = 0; dsp < 2; ++dsp) {
        for (int layer = 0; layer < kLayers; ++layer) {
            for (int entry = 0; entry < kGammaEntries; ++entry) {
                const int word = (dsp * kLayers + layer) * kGammaEntries + entry;
                PutWord(image, kGammaTables + 2 * static_cast<uint32_t>(word),
                        FactoryGamma(dsp, layer, entry));
            }
        }
    }
    for (int page = kFirstNormPage; page <= kLastNormPage; ++page) {
        const uint32_t at = static_cast<uint32_t>(page) * kBlock;
        std::fill_n(image.begin() + at, kPageHeader, 0);
        std::memcpy(image.data() + at, "NORM", 4);
        for (int i = 0; i < kCoefficients; ++i) {
            PutWord(image, at + kPageHeader + 2 * static_cast<uint32_t>(i),
                    FactoryCoefficient(page, i));
        }
    }
    return image;
}

int FlashChip::TakeOption(std::span<const std::string> args, std::string* error) {
    if (args.empty()) return 0;
    const std::string& option = args[0];
    if (option != "--flash-id" && option != "--flash-image") return 0;
    if (args.size() < 2) {
        *error = option + " needs a value";
        return -1;
    }
    const std::string& value = args[1];
    if (option == "--flash-id") {
        uint16_t id = 0;
        if (!ParseId(value, &id)) {
            *error = "--flash-id takes 0xBF04 or 0xBFD7";
            return -1;
        }
        set_id(id);
        return 2;
    }
    std::ifstream in(value, std::ios::binary);
    if (!in) {
        *error = "cannot read the flash image " + value;
        return -1;
    }
    std::vector<uint8_t> image;
    char byte = 0;
    while (image.size() <= kSize && in.get(byte)) image.push_back(static_cast<uint8_t>(byte));
    if (image.size() > kSize) {
        *error = "the flash image " + value + " is larger than the chip (524288 bytes)";
        return -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::fill(cells_.begin(), cells_.end(), 0xFF);
    std::copy(image.begin(), image.end(), cells_.begin());
    return 2;
}

std::string FlashChip::OptionsHelp() {
    return "  --flash-id ID         flash chip: 0xBFD7 (4096-byte sectors, default) or 0xBF04\n"
           "                        (256-byte sectors, write protected at power-up)\n"
           "  --flash-image FILE    flash contents from FILE (at most 512 KiB, the rest\n"
           "                        erased) instead of the factory gamma and normalisation data\n";
}

std::string FlashChip::Control(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word != "flash") return std::string();
    std::string what;
    std::string value;
    in >> what >> value;
    if (what == "busy") {
        if (value == "stuck") {
            set_busy_reads(kStuck);
            return "flash busy stuck";
        }
        try {
            const int reads = std::stoi(value);
            if (reads >= 0) {
                set_busy_reads(reads);
                return "flash busy " + std::to_string(reads);
            }
        } catch (const std::exception&) {
        }
    }
    return "? flash busy N|stuck";
}

std::string FlashChip::ControlHelp() {
    return "  flash busy N|stuck    erases stay busy for N status reads (default 1), or never "
           "end\n";
}

bool FlashChip::Handle(std::span<const uint8_t> packet, std::array<uint8_t, 64>& reply) {
    if (packet.size() < kPacketHeader) return false;
    const uint8_t code = packet[0];
    const uint32_t address = Le32(packet, 3);
    const std::size_t count = packet[7];
    reply.fill(0);
    reply[0] = code;
    reply[2] = static_cast<uint8_t>(count);
    std::lock_guard<std::mutex> lock(mutex_);
    switch (code) {
        case kReadCommand:
            if (count > kMaxReadBytes) return false;
            for (std::size_t i = 0; i < count; ++i) {
                reply[kReplyData + i] = BusRead(address + static_cast<uint32_t>(i));
            }
            return true;
        case kWriteCommand:
            if (packet.size() < kPacketHeader + count) return false;
            for (std::size_t i = 0; i < count; ++i) {
                BusWrite(address + static_cast<uint32_t>(i), packet[kPacketHeader + i]);
            }
            return true;
        case kProgramCommand:
            // The controller runs the chip's program cycle for each byte;
            // programming can only clear bits.
            if (count > kMaxProgramBytes || packet.size() < kPacketHeader + count) return false;
            for (std::size_t i = 0; i < count; ++i) {
                const uint32_t at = (address + static_cast<uint32_t>(i)) % kSize;
                cells_[at] &= packet[kPacketHeader + i];
            }
            return true;
        default:
            return false;
    }
}

uint8_t FlashChip::BusRead(uint32_t address) {
    if (erasing_) {
        if (busy_reads_left_ == 0) {
            FinishErase();
        } else {
            if (busy_reads_left_ > 0) --busy_reads_left_;
            // Data polling: bit 7 reads 0 until the erase is done, bit 6 toggles.
            toggle_ ^= 0x40;
            return toggle_;
        }
    }
    std::copy(recent_reads_.begin() + 1, recent_reads_.end(), recent_reads_.begin());
    recent_reads_.back() = address;
    if (id_ == kPagedChip) {
        if (recent_reads_ == kUnprotectReads) protected_ = false;
        if (recent_reads_ == kProtectReads) protected_ = true;
    }
    if (mode_ == Mode::Identify && address <= 1) {
        return static_cast<uint8_t>(address == 0 ? id_ >> 8 : id_);
    }
    return cells_[address % kSize];
}

void FlashChip::BusWrite(uint32_t address, uint8_t value) {
    if (erasing_) return;  // the chip takes no command while it erases
    if (id_ == kPagedChip) {
        BusWritePaged(address, value);
    } else {
        BusWriteJedec(address, value);
    }
}

void FlashChip::BusWritePaged(uint32_t address, uint8_t value) {
    if (erase_setup_) {
        erase_setup_ = false;
        if (value == 0xD0) {
            if (!protected_) StartErase(address & ~(kPagedSector - 1), kPagedSector);
            return;
        }
    }
    switch (value) {
        case 0x90:
            mode_ = Mode::Identify;
            break;
        case 0xFF:
            mode_ = Mode::Read;
            break;
        case 0x20:
            erase_setup_ = true;
            break;
        default:
            break;
    }
}

void FlashChip::BusWriteJedec(uint32_t address, uint8_t value) {
    const uint32_t line = address & 0xFFFF;
    if (value == 0xF0) {
        mode_ = Mode::Read;
        cycle_ = Cycle::Idle;
        return;
    }
    switch (cycle_) {
        case Cycle::Idle:
            cycle_ = value == 0xAA && line == kJedecFirst ? Cycle::Unlocked1 : Cycle::Idle;
            return;
        case Cycle::Unlocked1:
            cycle_ = value == 0x55 && line == kJedecSecond ? Cycle::Unlocked2 : Cycle::Idle;
            return;
        case Cycle::Unlocked2:
            cycle_ = Cycle::Idle;
            if (line != kJedecFirst) return;
            if (value == 0x90) mode_ = Mode::Identify;
            if (value == 0x80) cycle_ = Cycle::EraseSetup;
            return;
        case Cycle::EraseSetup:
            cycle_ = value == 0xAA && line == kJedecFirst ? Cycle::EraseUnlocked1 : Cycle::Idle;
            return;
        case Cycle::EraseUnlocked1:
            cycle_ = value == 0x55 && line == kJedecSecond ? Cycle::EraseUnlocked2 : Cycle::Idle;
            return;
        case Cycle::EraseUnlocked2:
            cycle_ = Cycle::Idle;
            if (value == 0x30) StartErase(address & ~(kJedecSector - 1), kJedecSector);
            if (value == 0x10 && line == kJedecFirst) StartErase(0, kSize);
            return;
    }
}

void FlashChip::StartErase(uint32_t start, uint32_t length) {
    erasing_ = true;
    erase_start_ = start % kSize;
    erase_length_ = length;
    busy_reads_left_ = busy_reads_setting_;
    if (busy_reads_left_ == 0) FinishErase();
}

void FlashChip::FinishErase() {
    erasing_ = false;
    const uint32_t end = std::min(kSize, erase_start_ + erase_length_);
    std::fill(cells_.begin() + erase_start_, cells_.begin() + end, 0xFF);
    ++erases_done_;
}

std::vector<uint8_t> FlashChip::Read(uint32_t address, std::size_t count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> bytes(count, 0xFF);
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t at = uint64_t{address} + i;
        if (at < kSize) bytes[i] = cells_[at];
    }
    return bytes;
}

void FlashChip::Store(uint32_t address, std::span<const uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const uint64_t at = uint64_t{address} + i;
        if (at < kSize) cells_[at] = bytes[i];
    }
}

uint16_t FlashChip::id() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return id_;
}

void FlashChip::set_id(uint16_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    id_ = id;
    mode_ = Mode::Read;
    cycle_ = Cycle::Idle;
    protected_ = true;
}

void FlashChip::set_busy_reads(int reads) {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_reads_setting_ = reads;
}

bool FlashChip::write_protected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return id_ == kPagedChip && protected_;
}

int FlashChip::erases_done() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return erases_done_;
}

}  // namespace zerik::sim
