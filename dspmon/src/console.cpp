#include "console.h"

#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "page_capture.h"

extern char** environ;

namespace dspmon {
namespace {

constexpr uint32_t kPageWaitMs = 6000;
constexpr std::size_t kTableBlockWords = 512;

std::optional<std::vector<uint8_t>> ReadWholeFile(const char* name) {
    std::ifstream file(name, std::ios::binary);
    if (!file) return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}

std::string_view AsText(const std::vector<uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Runs `command` through /bin/sh -c and waits for it; its result does not matter.
void RunShellCommand(const std::string& command) {
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
        0) {
        return;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

Console::Console(DeviceContext* dev, std::FILE* in, std::FILE* out)
    : dev_(dev), in_(in), out_(out) {}

bool Console::ReadLine(std::string* line) {
    std::fflush(out_);
    line->clear();
    int c = 0;
    while ((c = std::getc(in_)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
    if (c == EOF && line->empty()) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    // Lines typed ahead at a terminal while a command ran are dropped.
    const int fd = fileno(in_);
    if (isatty(fd) != 0) tcflush(fd, TCIFLUSH);
    return true;
}

void Console::Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out_);
}

void Console::Run() {
    std::string line;
    for (;;) {
        Print("-");
        if (!ReadLine(&line)) return;  // the end of the input quits
        if (line.empty()) continue;
        if (line.size() > kMaxLineLength) {
            Print(kHelpText);
            continue;
        }
        switch (line[0]) {
            case 'd':
                Dump(line);
                break;
            case 'e':
                Enter(line.substr(1));
                break;
            case 'f':
            case 'F':
                Fill(line.substr(1));
                break;
            case 'g':
            case 'G':
                ScanSheet();
                break;
            case 'o':
                break;
            case 'q':
            case 'Q':
                return;
            case 'w':
            case 'W':
                LoadFiles();
                break;
            case 'n':
            case 'N':
                LoadAlternatePositions();
                break;
            default:
                Print(kHelpText);
                break;
        }
    }
}

void Console::Dump(const std::string& line) {
    const std::vector<uint32_t> numbers = ParseHexNumbers(line.substr(1), 1);
    const uint32_t address = numbers.empty() ? 0 : numbers[0];
    if (address == 0 && line == "d") {
        dump_address_ = static_cast<uint16_t>(dump_address_ + 0x80);
    } else {
        dump_address_ = static_cast<uint16_t>(address);
    }
    dump_address_ &= 0x7FFF;
    const uint16_t base = dump_address_ & 0xFFF0;
    for (std::size_t i = 0; i < dump_words_.size(); ++i) {
        uint16_t word = 0;
        if (Zerik_ReadDspUshort(dev_, dsp_, base + static_cast<int32_t>(i), &word) != 0) {
            Print("Read Data Failed!\n");
            break;
        }
        dump_words_[i] = word;
    }
    Print(FormatDump(dsp_, base, dump_address_, dump_words_));
}

void Console::Enter(std::string arguments) {
    const int tokens = CheckArguments(arguments);
    if (tokens < 1) {
        Print(kEnterUsage);
        return;
    }
    const std::vector<uint32_t> numbers = ParseHexNumbers(arguments, kMaxEnterValues + 1);
    // Every token taken must be a number: a value that does not parse is
    // refused rather than written as whatever the list held.
    if (numbers.size() <
        std::min<std::size_t>(static_cast<std::size_t>(tokens), kMaxEnterValues + 1)) {
        Print(kEnterUsage);
        return;
    }
    const auto address = static_cast<uint16_t>(numbers[0]);
    if (numbers.size() == 1) {
        EnterInteractively(address);
        return;
    }
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        const int32_t target = static_cast<uint16_t>(address + i - 1);
        if (Zerik_WriteDspUshort(dev_, dsp_, target, numbers[i] & 0xFFFF) != 0) {
            Print("Write Data Failed!\n");
            return;
        }
    }
}

void Console::EnterInteractively(uint16_t address) {
    std::string line;
    for (;;) {
        uint16_t word = 0;
        if (Zerik_ReadDspUshort(dev_, dsp_, address, &word) == 0) {
            entered_word_ = word;
        } else {
            Print("Read Data Failed!\n");
        }
        char prompt[16];
        std::snprintf(prompt, sizeof prompt, "%04x: %04x ", static_cast<unsigned>(address),
                      static_cast<unsigned>(entered_word_));
        Print(prompt);
        if (!ReadLine(&line) || line.empty()) return;
        line.resize(std::min(line.size(), kMaxLineLength));
        const std::vector<uint32_t> numbers = ParseHexNumbers(line, 1);
        const uint32_t value = numbers.empty() ? entered_word_ : numbers[0];
        if (Zerik_WriteDspUshort(dev_, dsp_, address, value & 0xFFFF) != 0) {
            Print("Write Data Failed!\n");
        }
        address = static_cast<uint16_t>(address + 1);
    }
}

void Console::Fill(std::string arguments) {
    const int tokens = CheckArguments(arguments);
    const std::vector<uint32_t> numbers = ParseHexNumbers(arguments, 3);
    if (tokens < 3 || numbers.size() < 3) {
        Print(kFillUsage);
        return;
    }
    const auto start = static_cast<uint16_t>(numbers[0]);
    const auto end = static_cast<uint16_t>(numbers[1]);
    if (start > end) {
        Print(kFillUsage);
        return;
    }
    // A wider counter, so that an end address of FFFF ends the loop too.
    for (uint32_t address = start; address <= end; ++address) {
        Zerik_WriteDspUshort(dev_, dsp_, static_cast<int32_t>(address), numbers[2] & 0xFFFF);
    }
}

void Console::LoadFiles() {
    const auto red = ReadWholeFile("red.tbl");
    if (!red) {
        Print("red.tbl not found!\n");
        return;
    }
    ReadTableWords(*red, std::span(word_buf_).first(kTableWords));
    const auto blue = ReadWholeFile("blue.tbl");
    if (!blue) {
        Print("blue.tbl not found\n");
        return;
    }
    ReadTableWords(*blue, std::span(word_buf_).subspan(kTableWords, kTableWords));

    for (std::size_t first = 0; first < word_buf_.size(); first += kTableBlockWords) {
        const std::size_t count = std::min(kTableBlockWords, word_buf_.size() - first);
        const std::vector<uint8_t> bytes =
            SwappedWordBytes(std::span(word_buf_).subspan(first, count));
        Zerik_WriteDspBuffer(dev_, dsp_, kTableAddress + static_cast<int32_t>(first),
                             static_cast<uint32_t>(bytes.size()), bytes.data());
    }
    Print("Normal.tbl para set ok !\n");

    std::fill_n(word_buf_.begin(), kClearedWords, 0);
    const auto positions = ReadWholeFile("posi.asc");
    if (!positions) {
        Print("posi.asc not found!\n");
        return;
    }
    const auto parsed = ParsePositionFile(AsText(*positions), PositionFileKind::Main);
    if (!parsed.value) {
        Print("posi.asc: " + parsed.error + "!\n");
        return;
    }
    StorePositions(*parsed.value, word_buf_);

    const auto stops = ReadWholeFile("stop.asc");
    if (!stops) {
        Print("stop.asc not found!\n");
        return;
    }
    const auto stop_values = ParseStopFile(AsText(*stops));
    if (!stop_values.value) {
        Print("stop.asc: " + stop_values.error + "!\n");
        return;
    }
    std::copy(stop_values.value->begin(), stop_values.value->end(), word_buf_.begin() + kStopIndex);
    WritePositionBlock(kStopIndex + stop_values.value->size());
    Print("posi.asc,stop.asc set ok !\n");
}

void Console::LoadAlternatePositions() {
    const auto positions = ReadWholeFile("posi1.asc");
    if (!positions) {
        Print("posi1.asc not found!\n");
        return;
    }
    const auto parsed = ParsePositionFile(AsText(*positions), PositionFileKind::Alternate);
    if (!parsed.value) {
        Print("posi1.asc: " + parsed.error + "!\n");
        return;
    }
    StorePositions(*parsed.value, word_buf_);
    char bar[64];
    std::snprintf(bar, sizeof bar, "%d %d %d %d ", word_buf_[kBarIndex], word_buf_[kBarIndex + 1],
                  word_buf_[kBarIndex + 2], word_buf_[kBarIndex + 3]);
    Print(bar);
    WritePositionBlock(kPositionWords);
    Print("posi1.asc set ok !\n");
}

void Console::WritePositionBlock(std::size_t words) {
    const std::vector<uint8_t> bytes = SwappedWordBytes(std::span(word_buf_).first(words));
    Zerik_WriteDspBuffer(dev_, dsp_, kPositionAddress, static_cast<uint32_t>(bytes.size()),
                         bytes.data());
}

void Console::ScanSheet() {
    PageCapture& capture = Capture();
    Zerik_SetPageRcvHandler(dev_, HandlePage, nullptr, AllocatePage, nullptr);
    capture.event().Reset();
    Zerik_StartScan(dev_);
    if (capture.event().Wait(kPageWaitMs)) {
        Print("Scan Finished! Print File located in:" + capture.LastFileName() + "\n");
    } else {
        Print("Wait TimeOUT! Get Print File Failed!\n");
    }
    std::fflush(out_);
    RunShellCommand("b " + capture.LastFileName());
}

}  // namespace dspmon
