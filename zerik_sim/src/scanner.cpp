#include "scanner.h"

#include <array>
#include <sstream>

namespace zerik::sim {
namespace {

constexpr std::size_t kMessageSize = 64;

}  // namespace

bool Scanner::Configure(const std::vector<std::string>& args, std::string* error) {
    if (!args.empty()) {
        *error = "unknown option: " + args.front();
        return false;
    }
    return true;
}

void Scanner::OnHostWrite(Link& from, std::span<const uint8_t> bytes) {
    // A packet is: command code, a zero byte, payload length, payload.
    if (bytes.size() >= 3 && bytes[0] == 0x00 && bytes[2] == 0) {
        AnswerPipeTest(from);
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
    if (word == "page") {
        std::vector<std::string> words;
        for (std::string w; in >> w;) words.push_back(w);
        PageSpec spec;
        int count = 1;
        std::string error;
        if (!ParsePageSpec(words, &spec, &count, &error)) return error;
        for (int i = 0; i < count; ++i) {
            StreamPage(spec);
            ++spec.page_no;
        }
        return "page sent " + std::to_string(count);
    }
    return std::string();
}

std::string Scanner::ControlHelp() const {
    return "  pipetest right|wrong|silent|short\n"
           "                        how the loop-back test is answered: all 64 bytes right,\n"
           "                        one byte wrong, no answer, or only 32 bytes\n" +
           PageStreamHelp();
}

void Scanner::StreamPage(const PageSpec& spec) {
    if (host_ != nullptr) sim::StreamPage(*host_, spec);
}

int Scanner::pipe_tests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pipe_tests_;
}

std::unique_ptr<Device> MakeScanner(const std::vector<std::string>& args, std::string* error) {
    auto scanner = std::make_unique<Scanner>();
    if (!scanner->Configure(args, error)) return nullptr;
    return scanner;
}

std::string ScannerOptionsHelp() { return std::string(); }

}  // namespace zerik::sim
