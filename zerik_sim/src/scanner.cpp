#include "scanner.h"

#include <algorithm>
#include <iostream>

#include "platform/platform.h"

namespace zerik::sim {
namespace {

constexpr std::size_t kMessageSize = 64;
constexpr std::size_t kPacketHistory = 200000;

// Command codes of the host's packets.
constexpr uint8_t kPipeTest = 0x00;
constexpr uint8_t kReadRegisters = 0x01;
constexpr uint8_t kWriteRegisters = 0x02;
constexpr uint8_t kReadDspWords = 0x05;
constexpr uint8_t kWriteDspWords = 0x06;
constexpr uint8_t kKeepAlive = 0x0A;
constexpr uint8_t kMachineState = 0x13;
constexpr uint8_t kLastCommand = 0x19;

constexpr uint32_t kMaxRegisterBytes = 58;
constexpr uint32_t kMaxDspWords = 28;

// Controller registers the scanner gives a meaning to.
constexpr uint16_t kDspResetControl = 0xC02C;
constexpr uint8_t kDspResetHold = 0x01;
constexpr uint8_t kDspResetRelease = 0x02;

// Report types on the message pipe.
constexpr uint8_t kTimerReport = 0x80;
constexpr uint8_t kStatusReport = 0xF1;
constexpr uint8_t kFaultReport = 0xF2;
constexpr uint8_t kScanEvent = 0xF3;

void PutWord(Message* msg, int index, uint32_t value) {
    (*msg)[3 + 2 * index] = static_cast<uint8_t>(value & 0xFF);
    (*msg)[4 + 2 * index] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

// Reads numbers (decimal, or hex with 0x) until the line ends; false on junk.
bool ReadNumbers(std::istringstream& in, std::vector<uint32_t>* values) {
    std::string token;
    while (in >> token) {
        try {
            std::size_t used = 0;
            const unsigned long value = std::stoul(token, &used, 0);
            if (used != token.size()) return false;
            values->push_back(static_cast<uint32_t>(value));
        } catch (const std::exception&) {
            return false;
        }
    }
    return true;
}

bool ParseInt(const std::string& text, int base, long min, long max, long* out) {
    try {
        std::size_t used = 0;
        const long value = std::stol(text, &used, base);
        if (used != text.size() || value < min || value > max) return false;
        *out = value;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

Scanner::Scanner(Host* host) : host_(host), scan_(ScanParts()) {
    PowerUp();
    scan_.Attach(host);
}

DeviceParts Scanner::ScanParts() {
    DeviceParts parts;
    parts.read_register = [this](uint16_t address) {
        std::lock_guard<std::mutex> lock(mutex_);
        return registers_[address];
    };
    parts.read_dsp = [this](int dsp, uint16_t word) {
        std::lock_guard<std::mutex> lock(mutex_);
        return dsps_.at(static_cast<std::size_t>(dsp)).Peek(word);
    };
    parts.write_dsp = [this](int dsp, uint16_t word, uint16_t value) {
        std::lock_guard<std::mutex> lock(mutex_);
        dsps_.at(static_cast<std::size_t>(dsp)).Write(word, value);
    };
    parts.read_flash = [this](uint32_t address, std::size_t count) {
        return flash_.Read(address, count);
    };
    parts.set_device_type = [this](uint8_t type) {
        std::lock_guard<std::mutex> lock(mutex_);
        dev_type_ = type;
    };
    parts.set_machine_state = [this](uint8_t state) {
        std::lock_guard<std::mutex> lock(mutex_);
        machine_state_ = state;
    };
    return parts;
}

void Scanner::PowerUp() {
    dsps_[0].PowerUpRunning(firmware_version_);
    dsps_[1].PowerUpRunning(firmware_version_);
    if (dsp_power_up_ != DspPowerUp::Running) dsps_[1].PowerUpStopped();
    if (dsp_power_up_ == DspPowerUp::Stopped) dsps_[0].PowerUpStopped();
    registers_.fill(0);
    registers_[0xC005] = 0x07;                       // LEDs of the three layers
    registers_[0xC020] = registers_[0xC022] = 0x40;  // line length 0x0640
    registers_[0xC021] = registers_[0xC023] = 0x06;
    registers_[kDspResetControl] = kDspResetRelease;
}

bool Scanner::Configure(const std::vector<std::string>& args, std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool has_value = i + 1 < args.size();
        long value = 0;
        int took = flash_.TakeOption(std::span(args).subspan(i), error);
        if (took == 0) took = scan_.TakeOption(std::span(args).subspan(i), error);
        if (took < 0) return false;
        if (took > 0) {
            i += static_cast<std::size_t>(took) - 1;
            continue;
        }
        if (arg == "--dev-type" && has_value) {
            if (!ParseInt(args[++i], 0, 0, 255, &value)) {
                *error = "--dev-type takes 0..255";
                return false;
            }
            dev_type_ = static_cast<int>(value);
        } else if (arg == "--dsp" && has_value) {
            const std::string& how = args[++i];
            if (how == "running") {
                dsp_power_up_ = DspPowerUp::Running;
            } else if (how == "stopped") {
                dsp_power_up_ = DspPowerUp::Stopped;
            } else if (how == "stopped1") {
                dsp_power_up_ = DspPowerUp::Dsp1Stopped;
            } else {
                *error = "--dsp takes running, stopped or stopped1";
                return false;
            }
        } else if (arg == "--fw-version" && has_value) {
            if (!ParseInt(args[++i], 0, 0, 0xFFFF, &value)) {
                *error = "--fw-version takes 0..0xFFFF";
                return false;
            }
            firmware_version_ = static_cast<uint16_t>(value);
        } else {
            *error = "unknown option: " + arg;
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    PowerUp();
    return true;
}

void Scanner::OnHostWrite(Link& from, std::span<const uint8_t> bytes) {
    // A packet is: command code, a zero byte, payload length, payload.
    if (bytes.size() < 3) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A long-running scanner keeps only the recent history.
        if (packets_.size() >= kPacketHistory) {
            packets_.erase(packets_.begin(), packets_.begin() + kPacketHistory / 2);
        }
        packets_.emplace_back(bytes.begin(), bytes.end());
    }
    if (bytes[0] == kPipeTest && bytes[2] == 0) {
        AnswerPipeTest(from);
        return;
    }
    Message reply{};
    if (scan_.Handle(bytes, &reply)) {
        SendReply(from, reply);
        return;
    }
    bool answered;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answered = Serve(bytes, &reply);
    }
    if (answered) SendReply(from, reply);
}

bool Scanner::Serve(std::span<const uint8_t> packet, Message* reply) {
    const uint8_t code = packet[0];
    const std::size_t length = std::min<std::size_t>(packet[2], packet.size() - 3);
    const std::span<const uint8_t> payload = packet.subspan(3, length);
    (*reply)[0] = code;
    switch (code) {
        case kReadRegisters:
            ReadRegisters(payload, reply);
            return true;
        case kWriteRegisters:
            WriteRegisters(payload, reply);
            return true;
        case kReadDspWords:
            ReadDsp(payload, reply);
            return true;
        case kWriteDspWords:
            WriteDsp(payload, reply);
            return true;
        case kKeepAlive:
            ++keep_alives_;
            if (payload.size() >= 2) last_keep_alive_ = payload[0] | payload[1] << 8;
            return false;  // the host awaits no reply
        case FlashChip::kReadCommand:
        case FlashChip::kWriteCommand:
        case FlashChip::kProgramCommand:
            return flash_.Handle(packet, *reply);  // false: malformed, no reply
        case kMachineState:
            (*reply)[2] = 2;
            (*reply)[3] = machine_state_;
            (*reply)[4] = static_cast<uint8_t>(dev_type_);
            return true;
        default:
            // Commands without data of their own are acknowledged; codes
            // the controller does not know go unanswered.
            return code <= kLastCommand && code != 0x03 && code != 0x04 && code != 0x0E &&
                   code != 0x0F;
    }
}

// Replies to register commands: address low, high, count at bytes 3 to 5,
// the register contents from byte 6.
void Scanner::ReadRegisters(std::span<const uint8_t> payload, Message* reply) {
    if (payload.size() < 3) return;
    const uint16_t address = static_cast<uint16_t>(payload[0] | payload[1] << 8);
    const uint32_t count = std::min<uint32_t>(payload[2], kMaxRegisterBytes);
    std::copy(payload.begin(), payload.begin() + 3, reply->begin() + 3);
    for (uint32_t i = 0; i < count; ++i) {
        const auto at = static_cast<uint16_t>(address + i);
        (*reply)[6 + i] = scan_.FilterRegisterRead(at, registers_[at]);
    }
}

void Scanner::WriteRegisters(std::span<const uint8_t> payload, Message* reply) {
    if (payload.size() < 3) return;
    const uint16_t address = static_cast<uint16_t>(payload[0] | payload[1] << 8);
    const uint32_t count = std::min<uint32_t>(
        {payload[2], kMaxRegisterBytes, static_cast<uint32_t>(payload.size() - 3)});
    for (uint32_t i = 0; i < count; ++i) {
        WriteRegister(static_cast<uint16_t>(address + i), payload[3 + i]);
    }
    ReadRegisters(payload.first(3), reply);
}

void Scanner::WriteRegister(uint16_t address, uint8_t value) {
    registers_[address] = value;
    if (address != kDspResetControl) return;
    for (Dsp& dsp : dsps_) {
        if ((value & kDspResetHold) != 0) dsp.HoldInReset();
        if ((value & kDspResetRelease) != 0) dsp.ReleaseReset();
    }
}

// Replies to DSP commands: address low, high, count, DSP at bytes 3 to 6,
// the words from byte 7. The DSPs' host port carries each word low byte
// first, the order in which the firmware file's words reach it.
void Scanner::ReadDsp(std::span<const uint8_t> payload, Message* reply) {
    if (payload.size() < 4 || payload[3] > 1) return;
    Dsp& dsp = dsps_[payload[3]];
    const uint16_t address = static_cast<uint16_t>(payload[0] | payload[1] << 8);
    const uint32_t count = std::min<uint32_t>(payload[2], kMaxDspWords);
    std::copy(payload.begin(), payload.begin() + 4, reply->begin() + 3);
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t word = dsp.Read(static_cast<uint16_t>(address + i));
        (*reply)[7 + 2 * i] = static_cast<uint8_t>(word & 0xFF);
        (*reply)[8 + 2 * i] = static_cast<uint8_t>(word >> 8);
    }
}

void Scanner::WriteDsp(std::span<const uint8_t> payload, Message* reply) {
    if (payload.size() < 4 || payload[3] > 1) return;
    Dsp& dsp = dsps_[payload[3]];
    const uint16_t address = static_cast<uint16_t>(payload[0] | payload[1] << 8);
    const uint32_t count = std::min<uint32_t>(
        {payload[2], kMaxDspWords, static_cast<uint32_t>((payload.size() - 4) / 2)});
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t word = static_cast<uint16_t>(payload[4 + 2 * i] | payload[5 + 2 * i] << 8);
        dsp.Write(static_cast<uint16_t>(address + i), word);
    }
    std::copy(payload.begin(), payload.begin() + 4, reply->begin() + 3);
}

void Scanner::SendReply(Link& from, const Message& reply) {
    uint32_t delay = 0;
    bool trail = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (drop_replies_ != 0) {
            if (drop_replies_ > 0) --drop_replies_;
            return;
        }
        if (delay_replies_ > 0) {
            --delay_replies_;
            delay = delay_ms_;
        }
        trail = trail_report_;
        trail_report_ = false;
    }
    // The controller works on one command at a time: a delayed reply holds
    // up the commands behind it.
    if (delay > 0) os::SleepMs(delay);
    from.SendMessage(reply);
    if (trail) {
        Message status{};
        status[0] = kStatusReport;
        for (int i = 0; i < 6; ++i) PutWord(&status, i, 0xA5A0u + static_cast<uint32_t>(i));
        from.SendMessage(status);
    }
}

void Scanner::AnswerPipeTest(Link& from) {
    std::array<uint8_t, kMessageSize> answer{};
    for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i);
    PipeTestAnswer mode;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++pipe_tests_;
        mode = pipe_test_answer_;
    }
    switch (mode) {
        case PipeTestAnswer::Right:
            from.SendMessage(answer);
            break;
        case PipeTestAnswer::OneWrongByte:
            answer[37] ^= 0xFF;
            from.SendMessage(answer);
            break;
        case PipeTestAnswer::Short:
            from.SendMessage(std::span<const uint8_t>(answer.data(), 32));
            break;
        case PipeTestAnswer::Silent:
            break;
    }
}

std::string Scanner::InjectReport(std::istringstream& in) {
    std::string kind;
    in >> kind;
    std::vector<uint32_t> values;
    if (!ReadNumbers(in, &values)) return "? report: numbers expected";
    Message msg{};
    std::size_t first_word = 0;
    if (kind == "timer") {
        msg[0] = kTimerReport;
    } else if (kind == "status") {
        msg[0] = kStatusReport;
    } else if (kind == "fault") {
        msg[0] = kFaultReport;
    } else if (kind == "event") {
        // event CODE PAGE [W1..W7]: Code carries the page in its high byte.
        if (values.size() < 2) return "? report event CODE PAGE [W1..W7]";
        msg[0] = kScanEvent;
        PutWord(&msg, 0, (values[0] & 0xFF) | (values[1] & 0xFF) << 8);
        values.erase(values.begin(), values.begin() + 2);
        first_word = 1;
    } else {
        return "? report timer|status|fault|event ...";
    }
    if (values.size() + first_word > 8) return "? report: at most eight words";
    for (std::size_t i = 0; i < values.size(); ++i) {
        PutWord(&msg, static_cast<int>(first_word + i), values[i]);
    }
    if (host_ != nullptr) host_->Broadcast(msg);
    return "report " + kind;
}

std::string Scanner::SetFault(const std::string& word, std::istringstream& in) {
    std::vector<uint32_t> values;
    std::string arg;
    if (word == "drop") {
        in >> arg;
        std::lock_guard<std::mutex> lock(mutex_);
        if (arg == "all") {
            drop_replies_ = -1;
        } else if (arg == "off") {
            drop_replies_ = 0;
        } else {
            long n = 0;
            if (!ParseInt(arg.empty() ? "1" : arg, 0, 0, 1000000, &n)) return "? drop N|all|off";
            drop_replies_ = static_cast<int>(n);
        }
        return "drop " + (arg.empty() ? std::string("1") : arg);
    }
    if (!ReadNumbers(in, &values)) return "? " + word + ": numbers expected";
    std::lock_guard<std::mutex> lock(mutex_);
    if (word == "delay") {
        if (values.empty() || values.size() > 2) return "? delay MS [N]";
        delay_ms_ = values[0];
        delay_replies_ = values.size() == 2 ? static_cast<int>(values[1]) : 1;
        return "delay " + std::to_string(delay_ms_);
    }
    if (word == "late") {
        if (values.size() > 1) return "? late [MS]";
        delay_ms_ = values.empty() ? kDefaultLateReplyMs : values[0];
        delay_replies_ = 1;
        return "late " + std::to_string(delay_ms_);
    }
    trail_report_ = true;  // "trail"
    return "trail";
}

std::string Scanner::Control(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "pipetest") {
        std::string how;
        in >> how;
        std::lock_guard<std::mutex> lock(mutex_);
        if (how == "right") {
            pipe_test_answer_ = PipeTestAnswer::Right;
        } else if (how == "wrong") {
            pipe_test_answer_ = PipeTestAnswer::OneWrongByte;
        } else if (how == "silent") {
            pipe_test_answer_ = PipeTestAnswer::Silent;
        } else if (how == "short") {
            pipe_test_answer_ = PipeTestAnswer::Short;
        } else {
            return "? pipetest right|wrong|silent|short";
        }
        return "pipetest " + how;
    }
    if (std::string answer = flash_.Control(line); !answer.empty()) return answer;
    if (std::string answer = scan_.Control(line); !answer.empty()) return answer;
    if (word == "page") {
        std::vector<std::string> words;
        for (std::string w; in >> w;) words.push_back(w);
        PageSpec plan;
        int count = 1;
        std::string error;
        if (!ParsePageSpec(words, &plan, &count, &error)) return error;
        for (int i = 0; i < count; ++i) {
            StreamPage(plan);
            ++plan.page_no;
        }
        return "page sent " + std::to_string(count);
    }
    if (word == "report") return InjectReport(in);
    if (word == "drop" || word == "delay" || word == "late" || word == "trail") {
        return SetFault(word, in);
    }
    if (word == "dsp") {
        std::string how;
        int which = -1;
        in >> how >> which;
        if ((how != "stop" && how != "start") || which < 0 || which > 1) {
            return "? dsp stop|start 0|1";
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (how == "stop") {
            dsps_[static_cast<std::size_t>(which)].PowerUpStopped();
        } else {
            dsps_[static_cast<std::size_t>(which)].PowerUpRunning(firmware_version_);
        }
        return "dsp " + how + " " + std::to_string(which);
    }
    if (word == "devtype") {
        std::string arg;
        in >> arg;
        long value = 0;
        if (!ParseInt(arg, 0, 0, 255, &value)) return "? devtype 0..255";
        std::lock_guard<std::mutex> lock(mutex_);
        dev_type_ = static_cast<int>(value);
        return "devtype " + arg;
    }
    return std::string();
}

std::string Scanner::ControlHelp() const {
    return "  pipetest right|wrong|silent|short\n"
           "                        how the loop-back test is answered: all 64 bytes right,\n"
           "                        one byte wrong, no answer, or only 32 bytes\n"
           "  report timer TICKS    a timer report (type 0x80)\n"
           "  report status W0..W5  a status report (type 0xF1)\n"
           "  report fault CODE [W1..W5]\n"
           "                        a fault report (type 0xF2)\n"
           "  report event CODE PAGE [W1..W7]\n"
           "                        a scan event (type 0xF3): 1 page started, 2 page ended,\n"
           "                        10 paper-thickness calibration finished\n"
           "  drop N|all|off        leave the next N replies (or all) unanswered\n"
           "  delay MS [N]          send the next N replies (default 1) MS ms late\n"
           "  late [MS]             send the next reply after MS ms (default 1500), after\n"
           "                        the host has given up waiting\n"
           "  trail                 follow the next reply at once by a status report\n"
           "  dsp stop|start 0|1    power DSP 0 or 1 down to no firmware, or up running\n"
           "  devtype N             the device type the type query reports\n" +
           FlashChip::ControlHelp() + ScanEngine::ControlHelp() + PageStreamHelp();
}

void Scanner::StreamPage(const PageSpec& plan) {
    if (host_ != nullptr) sim::StreamPage(*host_, plan);
}

int Scanner::pipe_tests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pipe_tests_;
}

uint16_t Scanner::dsp_word(int dsp, uint16_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dsps_.at(static_cast<std::size_t>(dsp)).Peek(address);
}

bool Scanner::dsp_running(int dsp) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dsps_.at(static_cast<std::size_t>(dsp)).running();
}

int Scanner::dsp_starts(int dsp) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dsps_.at(static_cast<std::size_t>(dsp)).starts();
}

uint32_t Scanner::dsp_entry_point(int dsp) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dsps_.at(static_cast<std::size_t>(dsp)).entry_point();
}

uint8_t Scanner::register_byte(uint16_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registers_[address];
}

int Scanner::keep_alives() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return keep_alives_;
}

int Scanner::last_keep_alive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_keep_alive_;
}

std::vector<std::vector<uint8_t>> Scanner::packets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_;
}

std::unique_ptr<Device> MakeScanner(const std::vector<std::string>& args, std::string* error) {
    auto scanner = std::make_unique<Scanner>();
    if (!scanner->Configure(args, error)) return nullptr;
    // Printer and LCD texts show on the console.
    scanner->scan().SetConsole(
        [](const std::string& line) { std::cout << "zerik_sim: " << line << std::endl; });
    return scanner;
}

std::string ScannerOptionsHelp() {
    return "Scanner options:\n"
           "  --dev-type N          device type the type query reports (default 1)\n"
           "  --dsp running|stopped|stopped1\n"
           "                        DSPs at power-up: both running their firmware (default),\n"
           "                        both stopped, or only DSP 1 stopped\n"
           "  --fw-version V        firmware version word of running DSPs (default 0x105)\n" +
           FlashChip::OptionsHelp() + ScanEngine::OptionsHelp();
}

}  // namespace zerik::sim
