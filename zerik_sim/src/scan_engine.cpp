#include "scan_engine.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

#include "page_stream.h"
#include "platform/platform.h"

namespace zerik::sim {
namespace {

constexpr std::size_t kMessageSize = 64;
constexpr std::size_t kTransferSize = 32768;
constexpr std::size_t kMarkerSize = 16;
constexpr int kDataPipe = 0;

constexpr uint8_t kSensorValues = 0x07;
constexpr uint8_t kScan = 0x08;
constexpr uint8_t kSensorAdjust = 0x09;
constexpr uint8_t kSettings = 0x0B;
constexpr uint8_t kCopyFromFlash = 0x11;
constexpr uint8_t kMotorRate = 0x12;
constexpr uint8_t kDefaultGamma = 0x14;
constexpr uint8_t kPrinter = 0x15;
constexpr uint8_t kLcd = 0x16;
constexpr uint8_t kSorter = 0x17;
constexpr uint8_t kUsbIdentity = 0x18;
constexpr uint8_t kEeprom = 0x19;

constexpr uint8_t kFaultReport = 0xF2;

constexpr uint16_t kRegLedEnable = 0xC005;
constexpr uint16_t kRegLayerMode = 0xC006;
constexpr uint16_t kDspDpiWord = 0x7F90;
constexpr uint16_t kLedRegisters[8] = {0xC013, 0xC00F, 0xC00B, 0xC007,
                                       0xC015, 0xC011, 0xC00D, 0xC009};

// The identity record a fresh device carries, kept at EEPROM address 0.
constexpr uint8_t kFactoryIdentity[8] = {0x34, 0x12, 0x02, 0x00, 0x00, 0x01, 0x01, 0x00};

void PutLe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t GetLe16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t GetLe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

uint32_t LayersOfMode(uint8_t mode) {
    switch (mode) {
        case 0x0A:
            return 2;
        case 0x0C:
            return 3;
        default:
            return 1;
    }
}

bool ReadSheet(const std::string& path, std::vector<uint8_t>* sheet, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read sheet file " + path;
        return false;
    }
    sheet->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    sheet->resize(sheet->size() - sheet->size() % ScanEngine::kSheetWidth);
    if (sheet->empty()) {
        *error = "sheet file " + path + " holds no whole line of 1728 bytes";
        return false;
    }
    return true;
}

std::vector<uint8_t> TestPattern() {
    std::vector<uint8_t> sheet(std::size_t{ScanEngine::kPatternLines} * ScanEngine::kSheetWidth);
    for (uint32_t y = 0; y < ScanEngine::kPatternLines; ++y) {
        for (uint32_t x = 0; x < ScanEngine::kSheetWidth; ++x) {
            sheet[std::size_t{y} * ScanEngine::kSheetWidth + x] = static_cast<uint8_t>(x + y);
        }
    }
    return sheet;
}

bool ParseNumber(const std::string& text, long min, long max, long* value) {
    try {
        std::size_t used = 0;
        const long parsed = std::stol(text, &used, 0);
        if (used != text.size() || parsed < min || parsed > max) return false;
        *value = parsed;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

void SendSheetPage(Host& host, int pipe, uint8_t page_no, uint8_t layer, uint16_t dpi,
                   std::span<const uint8_t> data, const std::atomic<bool>* stop) {
    const auto start = PageMarkerBytes(1, page_no, layer, dpi);
    const auto end = PageMarkerBytes(2, page_no, layer, dpi);
    std::vector<uint8_t> transfer;
    transfer.reserve(kTransferSize);
    transfer.insert(transfer.end(), start.begin(), start.end());
    std::size_t sent = 0;
    // The end marker and the word that must follow it stay in the last transfer.
    const std::size_t room_for_end = kMarkerSize + 2;
    while (sent < data.size()) {
        if (stop != nullptr && stop->load()) break;
        const std::size_t take = std::min(kTransferSize - transfer.size(), data.size() - sent);
        transfer.insert(transfer.end(), data.begin() + static_cast<std::ptrdiff_t>(sent),
                        data.begin() + static_cast<std::ptrdiff_t>(sent + take));
        sent += take;
        if (sent < data.size() || transfer.size() + room_for_end > kTransferSize) {
            host.BroadcastData(pipe, transfer);
            transfer.clear();
        }
    }
    if (data.empty()) transfer.insert(transfer.end(), 2, 0);  // a word after the start marker
    transfer.insert(transfer.end(), end.begin(), end.end());
    transfer.insert(transfer.end(), 2, 0);
    host.BroadcastData(pipe, transfer);
}

ScanEngine::ScanEngine(DeviceParts parts) : parts_(std::move(parts)) {
    for (int i = 0; i < kSensors; ++i) sensors_[i] = static_cast<uint16_t>(0x0100 + 0x10 * i);
    eeprom_.fill(0xFF);
    std::copy(std::begin(kFactoryIdentity), std::end(kFactoryIdentity), eeprom_.begin());
    start_ms_ = os::TickCount();
}

ScanEngine::~ScanEngine() {
    Halt();
}

void ScanEngine::Attach(Host* host) {
    host_ = host;
}

void ScanEngine::SetConsole(std::function<void(const std::string&)> console) {
    std::lock_guard<std::mutex> lock(mutex_);
    console_ = std::move(console);
}

int ScanEngine::TakeOption(std::span<const std::string> args, std::string* error) {
    if (args.empty()) return 0;
    if (const int used = answer_sheet_.TakeOption(args, error); used != 0) return used;
    const std::string& option = args[0];
    if (option == "--no-paper" || option == "--test-pattern") {
        std::lock_guard<std::mutex> lock(mutex_);
        (option == "--no-paper" ? hopper_only_ : test_pattern_) = true;
        return 1;
    }
    if (option != "--sheet") return 0;
    if (args.size() < 2) {
        *error = option + " needs a value";
        return -1;
    }
    std::vector<uint8_t> sheet;
    if (!ReadSheet(args[1], &sheet, error)) return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    sheets_.push_back(std::move(sheet));
    hopper_only_ = true;
    return 2;
}

std::string ScanEngine::OptionsHelp() {
    return "  --sheet FILE          raw page of lines of 1728 bytes fed at the next start of a\n"
           "                        scan (repeat for several sheets, one per start); once\n"
           "                        they are used up, a start reports a paper pick time-out\n"
           "  --no-paper            start with an empty hopper (sheets come by control line)\n"
           "  --test-pattern        without sheets, feed the test pattern: byte x of line y\n"
           "                        is (x + y) & 0xFF, 2200 lines, instead of the answer sheet\n" +
           AnswerSheetOptions::Help();
}

bool ScanEngine::Handles(uint8_t code) {
    switch (code) {
        case kSensorValues:
        case kScan:
        case kSensorAdjust:
        case kSettings:
        case kCopyFromFlash:
        case kMotorRate:
        case kDefaultGamma:
        case kPrinter:
        case kLcd:
        case kSorter:
        case kUsbIdentity:
        case kEeprom:
            return true;
        default:
            return false;
    }
}

bool ScanEngine::Handle(std::span<const uint8_t> packet, Message* reply) {
    if (packet.size() < 3 || !Handles(packet[0])) return false;
    const std::span<const uint8_t> payload =
        packet.subspan(3, std::min<std::size_t>(packet[2], packet.size() - 3));
    auto arg = [&](std::size_t i) -> uint8_t { return i < payload.size() ? payload[i] : 0; };

    switch (packet[0]) {
        case kSensorValues: {
            std::array<uint8_t, 2 * kSensors> words{};
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (int i = 0; i < kSensors; ++i) PutLe16(&words[2 * i], sensors_[i]);
            }
            Fill(reply, packet, words);
            return true;
        }
        case kScan:
            Fill(reply, packet);
            if (arg(0) != 0) {
                StartScan();
            } else {
                StopScan();
            }
            return true;
        case kSensorAdjust: {
            std::lock_guard<std::mutex> lock(mutex_);
            if (arg(0) != 0) {
                ++settings_.sensor_adjusts;
            } else {
                ++settings_.threshold_resets;
            }
            break;
        }
        case kSettings: {
            bool burnt_type = false;
            std::unique_lock<std::mutex> lock(mutex_);
            switch (arg(0)) {
                case 0:
                    settings_.paper_count = arg(1);
                    settings_.paper_count_word = arg(2) | arg(3) << 8;
                    break;
                case 1:
                    settings_.paper_check = arg(1);
                    break;
                case 2:
                    settings_.paper_type = arg(1);
                    break;
                case 3:
                    settings_.sort_type = arg(1);
                    break;
                case 4:
                    burnt_type = true;
                    break;
                default:
                    break;
            }
            lock.unlock();
            if (burnt_type) parts_.set_device_type(arg(1));
            break;
        }
        case kCopyFromFlash:
        case kDefaultGamma:
            CopyToDsp(payload, packet[0] == kDefaultGamma);
            break;
        case kMotorRate: {
            std::lock_guard<std::mutex> lock(mutex_);
            settings_.motor_rate = arg(0);
            break;
        }
        case kPrinter:
            if (arg(0) != 0) {
                // The text runs up to its terminating zero or the end of the packet.
                const auto text_bytes = payload.subspan(1);
                const auto end = std::find(text_bytes.begin(), text_bytes.end(), 0);
                const std::string text(text_bytes.begin(), end);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    settings_.printer_on = true;
                    printed_.push_back(text);
                }
                Show("printer: " + text);
            } else {
                std::lock_guard<std::mutex> lock(mutex_);
                settings_.printer_on = false;
            }
            break;
        case kLcd: {
            const auto text_bytes = payload.empty() ? payload : payload.subspan(1);
            const auto end = std::find(text_bytes.begin(), text_bytes.end(), 0);
            const std::string text(text_bytes.begin(), end);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                lcd_[arg(0)] = text;
            }
            Show("lcd " + std::to_string(arg(0)) + ": " + text);
            break;
        }
        case kSorter: {
            std::lock_guard<std::mutex> lock(mutex_);
            ++settings_.sort_decisions;
            settings_.last_sort = arg(0);
            break;
        }
        case kUsbIdentity: {
            std::array<uint8_t, 8> record{};
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (std::size_t i = 0; i < record.size(); ++i) eeprom_[i] = arg(i);
                std::copy_n(eeprom_.begin(), record.size(), record.begin());
            }
            Fill(reply, packet, record);
            return true;
        }
        case kEeprom: {
            // A reply carries at most 61 bytes; addresses wrap within the EEPROM.
            const std::size_t count = std::min<std::size_t>(arg(0), kMessageSize - 3);
            std::vector<uint8_t> bytes(count);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (std::size_t i = 0; i < count; ++i) {
                    bytes[i] = eeprom_[(arg(1) + i) % kEepromSize];
                }
            }
            Fill(reply, packet, bytes);
            return true;
        }
        default:
            break;
    }
    Fill(reply, packet);
    return true;
}

void ScanEngine::Fill(Message* reply, std::span<const uint8_t> packet,
                      std::span<const uint8_t> data) {
    reply->fill(0);
    (*reply)[0] = packet[0];
    const std::size_t count = std::min(data.size(), kMessageSize - 3);
    (*reply)[2] = static_cast<uint8_t>(count);
    std::copy_n(data.begin(), count, reply->begin() + 3);
}

void ScanEngine::CopyToDsp(std::span<const uint8_t> payload, bool default_gamma) {
    if (payload.size() < 9) return;
    const uint32_t flash_address = GetLe32(&payload[0]);
    const uint16_t dsp_address = GetLe16(&payload[4]);
    const int dsp = payload[6];
    const uint16_t count = GetLe16(&payload[7]);
    if (dsp != 0 && dsp != 1) return;
    std::vector<uint8_t> bytes;
    if (!default_gamma) bytes = parts_.read_flash(flash_address, std::size_t{count} * 2);
    for (uint32_t k = 0; k < count; ++k) {
        // The default gamma tables are straight ramps, one per layer.
        const uint16_t word =
            default_gamma ? static_cast<uint16_t>(k & 0xFF) : GetLe16(&bytes[std::size_t{k} * 2]);
        parts_.write_dsp(dsp, static_cast<uint16_t>(dsp_address + k), word);
    }
}

void ScanEngine::StartScan() {
    std::thread finished;
    std::optional<std::vector<uint8_t>> sheet;
    uint8_t page_no = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (scanning_ || halted_) return;  // a sheet is on its way already, or the device stops
        finished = std::move(feeder_);
        if (!hopper_only_) {
            sheet = test_pattern_ ? TestPattern() : answer_sheet_.Page();
        } else if (!sheets_.empty()) {
            sheet = std::move(sheets_.front());
            sheets_.pop_front();
        }
        if (sheet) {
            page_no = next_page_++;
            if (next_page_ == 0) next_page_ = 1;
        }
        scanning_ = true;
        ++scans_started_;
        stop_.store(false);
    }
    if (finished.joinable()) finished.join();
    parts_.set_machine_state(1);
    std::lock_guard<std::mutex> lock(mutex_);
    feeder_ = std::thread(
        [this, page_no, s = std::move(sheet)]() mutable { Feed(std::move(s), page_no); });
}

void ScanEngine::StopScan() {
    stop_.store(true);
}

void ScanEngine::Halt() {
    std::thread feeder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        halted_ = true;
        stop_.store(true);
        feeder = std::move(feeder_);
    }
    if (feeder.joinable()) feeder.join();
}

void ScanEngine::Feed(std::optional<std::vector<uint8_t>> sheet, uint8_t page_no) {
    if (!sheet) {
        SendFault(kFaultPickTimeout);
    } else {
        const uint32_t layers = LayersOfMode(parts_.read_register(kRegLayerMode));
        uint32_t dpi = parts_.read_dsp(0, kDspDpiWord);
        if (dpi == 0) dpi = 200;
        SendEvent(kEventScanStart, page_no, static_cast<uint16_t>(dpi),
                  static_cast<uint16_t>(layers));
        const std::vector<uint8_t> data = PageData(*sheet, dpi, layers);
        if (host_ != nullptr) {
            SendSheetPage(*host_, kDataPipe, page_no, static_cast<uint8_t>(layers),
                          static_cast<uint16_t>(dpi), data, &stop_);
        }
        SendEvent(kEventScanEnd, page_no, static_cast<uint16_t>(dpi),
                  static_cast<uint16_t>(layers));

        // A single sheet scanned with every LED off is the normalisation run.
        const bool unlit = parts_.read_register(kRegLedEnable) == 0;
        bool norm_run;
        bool fails[2];
        {
            std::lock_guard<std::mutex> lock(mutex_);
            norm_run = unlit && settings_.paper_count == 1;
            fails[0] = norm_fails_[0];
            fails[1] = norm_fails_[1];
            if (norm_run) norm_fails_[0] = norm_fails_[1] = false;
        }
        if (norm_run) {
            for (uint8_t dsp = 0; dsp < 2; ++dsp) {
                SendEvent(fails[dsp] ? kEventNormFailed : kEventNormDone, dsp,
                          static_cast<uint16_t>(dpi), static_cast<uint16_t>(layers));
            }
        }
    }
    parts_.set_machine_state(0);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        scanning_ = false;
        ++scans_finished_;
    }
    idle_.notify_all();
}

std::vector<uint8_t> ScanEngine::PageData(const std::vector<uint8_t>& sheet, uint32_t dpi,
                                          uint32_t layers) const {
    const uint32_t width = LineWidth(dpi);
    const std::size_t sheet_lines = sheet.size() / kSheetWidth;
    const std::size_t lines = sheet_lines * width / kSheetWidth;
    std::vector<uint8_t> data;
    data.reserve(lines * width * layers);
    for (std::size_t y = 0; y < lines; ++y) {
        const uint8_t* source = sheet.data() + (y * kSheetWidth / width) * kSheetWidth;
        for (uint32_t layer = 0; layer < layers; ++layer) {
            for (uint32_t x = 0; x < width; ++x) data.push_back(source[x * kSheetWidth / width]);
        }
    }
    return data;
}

void ScanEngine::SendEvent(uint8_t code, uint8_t high, uint16_t dpi, uint16_t layer) {
    if (host_ == nullptr) return;
    auto message = ScanEventMessage(code, high, dpi, static_cast<uint8_t>(layer));
    PutLe16(&message[5], static_cast<uint16_t>(os::TickCount() - start_ms_));
    host_->Broadcast(message);
}

void ScanEngine::SendFault(uint8_t code) {
    if (host_ == nullptr) return;
    std::array<uint8_t, kMessageSize> message{};
    message[0] = kFaultReport;
    PutLe16(&message[3], code);
    PutLe16(&message[5], static_cast<uint16_t>(os::TickCount() - start_ms_));
    host_->Broadcast(message);
}

void ScanEngine::Show(const std::string& line) {
    std::function<void(const std::string&)> console;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        console = console_;
    }
    if (console) console(line);
}

uint8_t ScanEngine::FilterRegisterRead(uint16_t address, uint8_t stored) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (led_fault_bit_ >= 0 && address == kLedRegisters[led_fault_bit_]) {
        return static_cast<uint8_t>(stored ^ 0x01);
    }
    return stored;
}

std::string ScanEngine::Control(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    std::string value;
    std::string extra;
    in >> word >> value >> extra;
    long number = 0;
    if (word == "ledfault") {
        std::lock_guard<std::mutex> lock(mutex_);
        if (value == "off") {
            led_fault_bit_ = -1;
            return "ledfault off";
        }
        if (!ParseNumber(value, 1, 0x80, &number) || (number & (number - 1)) != 0) {
            return "? ledfault 0x01..0x80|off";
        }
        led_fault_bit_ = std::countr_zero(static_cast<unsigned>(number));
        return "ledfault " + value;
    }
    if (word == "sensor") {
        long reading = 0;
        if (!ParseNumber(value, 0, kSensors - 1, &number) ||
            !ParseNumber(extra, 0, 0xFFFF, &reading)) {
            return "? sensor 0..15 VALUE";
        }
        std::lock_guard<std::mutex> lock(mutex_);
        sensors_[static_cast<std::size_t>(number)] = static_cast<uint16_t>(reading);
        return "sensor " + value + " " + extra;
    }
    if (word == "normfail") {
        if (!ParseNumber(value, 0, 1, &number)) return "? normfail 0|1";
        std::lock_guard<std::mutex> lock(mutex_);
        norm_fails_[number] = true;
        return "normfail " + value;
    }
    if (word == "sheet") {
        std::vector<uint8_t> sheet;
        std::string error;
        if (!ReadSheet(value, &sheet, &error)) return "? " + error;
        std::lock_guard<std::mutex> lock(mutex_);
        sheets_.push_back(std::move(sheet));
        hopper_only_ = true;
        return "sheet " + value + " queued";
    }
    if (word == "scan") {
        std::lock_guard<std::mutex> lock(mutex_);
        std::ostringstream out;
        out << "scan " << (scanning_ ? "running" : "idle") << " started=" << scans_started_
            << " finished=" << scans_finished_ << " sheets=" << sheets_.size()
            << " paper_count=" << settings_.paper_count << " motor_rate=" << settings_.motor_rate;
        for (const auto& [row, text] : lcd_) out << "\nlcd " << row << ": " << text;
        return out.str();
    }
    return std::string();
}

std::string ScanEngine::ControlHelp() {
    return "  ledfault 0x01..0x80|off\n"
           "                        that LED's light-length register reads back wrong\n"
           "  sensor I VALUE        sensor I (0..15) reads VALUE\n"
           "  normfail 0|1          the next normalisation run fails on that DSP\n"
           "  sheet FILE            queue a sheet for a later start\n"
           "  scan                  feed state, settings and LCD lines\n";
}

ScanEngine::Settings ScanEngine::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

std::vector<std::string> ScanEngine::printed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return printed_;
}

std::map<int, std::string> ScanEngine::lcd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lcd_;
}

std::array<uint8_t, 8> ScanEngine::usb_identity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::array<uint8_t, 8> record{};
    std::copy_n(eeprom_.begin(), record.size(), record.begin());
    return record;
}

int ScanEngine::scans_started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scans_started_;
}

int ScanEngine::scans_finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scans_finished_;
}

bool ScanEngine::scanning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scanning_;
}

bool ScanEngine::WaitIdle(int timeout_ms) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [this] { return !scanning_; });
}

}  // namespace zerik::sim
