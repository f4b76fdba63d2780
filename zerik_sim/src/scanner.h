// The simulated scanner's model: what its controller answers on the command
// pipe, and the faults a control line can inject.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "page_stream.h"
#include "zerik_sim/simulator.h"

namespace zerik::sim {

enum class PipeTestAnswer { Right, OneWrongByte, Silent, Short };

class Scanner : public Device {
public:
    explicit Scanner(Host* host = nullptr) : host_(host) {}

    // Takes the zerik_sim options it knows; false with *error for a bad one.
    bool Configure(const std::vector<std::string>& args, std::string* error);

    void Attach(Host* host) override { host_ = host; }
    void OnHostWrite(Link& from, std::span<const uint8_t> bytes) override;
    std::string Control(const std::string& line) override;
    std::string ControlHelp() const override;

    // Number of pipe tests answered, for tests.
    int pipe_tests() const;

    // Sends one page to every open link (see page_stream.h).
    void StreamPage(const PageSpec& spec);

private:
    void AnswerPipeTest(Link& from);

    mutable std::mutex mutex_;
    Host* host_;
    PipeTestAnswer pipe_test_answer_ = PipeTestAnswer::Right;
    int pipe_tests_ = 0;
};

}  // namespace zerik::sim
