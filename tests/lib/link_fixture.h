// Test support for the command side: a device context linked to an
// in-process device with only its message receiver running (no monitor), a
// scripted device that records packets and answers from a table, and a log
// sink that keeps every line.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "command.h"
#include "context.h"
#include "sim_fixture.h"
#include "transport.h"
#include "zerik_sim/simulator.h"

namespace zerik::test {

using Bytes = std::vector<uint8_t>;

// One line given to the context's log sink: its format and the text made of it.
struct LogLine {
    const char* format;
    std::string text;
};

class CapturedLog {
  public:
    static CapturedLog& Instance() {
        static CapturedLog log;
        return log;
    }
    static int Sink(const char* format, ...) {
        va_list args;
        va_start(args, format);
        char buffer[512];
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        CapturedLog& log = Instance();
        std::lock_guard<std::mutex> lock(log.mutex_);
        log.lines_.push_back(LogLine{format, buffer});
        return 0;
    }
    std::vector<LogLine> Lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const LogLine& line : Lines()) texts.push_back(line.text);
        return texts;
    }
    int Count(const std::string& text) const {
        int count = 0;
        for (const LogLine& line : Lines()) count += line.text == text ? 1 : 0;
        return count;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
};

inline std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// A 64-byte message starting with the given bytes.
inline Bytes Msg(std::initializer_list<uint8_t> head) {
    Bytes msg(head);
    msg.resize(64, 0);
    return msg;
}

// A device that answers the loop-back test and otherwise gives, for each
// packet, the next entry of its reply table (possibly no message at all);
// every packet is recorded.
class ScriptedDevice : public sim::Device {
  public:
    void Attach(sim::Host* host) override { host_ = host; }
    void OnHostWrite(sim::Link& from, std::span<const uint8_t> bytes) override {
        if (bytes.size() == 3 && bytes[0] == 0 && bytes[2] == 0) {
            Bytes answer(64);
            for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i);
            from.SendMessage(answer);
            return;
        }
        std::vector<Bytes> replies;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            packets_.emplace_back(bytes.begin(), bytes.end());
            if (!replies_.empty()) {
                replies = std::move(replies_.front());
                replies_.pop_front();
            }
        }
        for (const Bytes& reply : replies) from.SendMessage(reply);
    }
    std::string Control(const std::string&) override { return std::string(); }
    std::string ControlHelp() const override { return std::string(); }

    // The messages that answer the next packet (none: the packet goes unanswered).
    void Answer(std::vector<Bytes> messages) {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_.push_back(std::move(messages));
    }
    std::vector<Bytes> Packets() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return packets_;
    }
    sim::Host* host() const { return host_; }

  private:
    mutable std::mutex mutex_;
    sim::Host* host_ = nullptr;
    std::deque<std::vector<Bytes>> replies_;
    std::vector<Bytes> packets_;
};

// A context linked to device path `number` of the test's folder, with its
// message receiver running; no monitor, so the test decides `Connected`.
class LinkFixture : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        CapturedLog::Instance().Clear();
    }

    void TearDown() override {
        if (dev_ != nullptr) {
            dev_->MsgRxStop.store(1);
            WaitFor([this] { return dev_->MsgRxStop.load() == 0; });
            ReleaseContext(dev_);
            dev_ = nullptr;
        }
        sim_.reset();
        SimFixture::TearDown();
    }

    // Serves `device` and links a fresh context to it.
    void Link(std::unique_ptr<sim::Device> device, int number = 0) {
        sim_ = std::make_unique<sim::Simulator>(sim::Options{dir(), number}, std::move(device));
        ASSERT_TRUE(sim_->Start());
        auto owned = std::make_unique<DeviceContext>();
        owned->Log = CapturedLog::Sink;
        owned->MsgMutex = os::NamedMutex::Open("MsgMutex");
        ASSERT_NE(owned->MsgMutex, nullptr);
        owned->SetDriver(driver::OpenDevice(number));
        ASSERT_NE(owned->Driver(), nullptr);
        ASSERT_TRUE(WaitFor([this] { return sim_->LinkCount() == 1; }));
        owned->Connected.store(1);
        dev_ = owned.release();
        dev_->References.store(2);  // the test's and the receiver's
        ASSERT_TRUE(os::StartThread(MsgRcvThread, dev_, os::ThreadPriority::Normal));
    }

    ScriptedDevice& LinkScripted() {
        auto device = std::make_unique<ScriptedDevice>();
        ScriptedDevice* raw = device.get();
        Link(std::move(device));
        return *raw;
    }

    DeviceContext* dev_ = nullptr;
    std::unique_ptr<sim::Simulator> sim_;
};

}  // namespace zerik::test
