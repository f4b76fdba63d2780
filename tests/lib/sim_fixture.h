// Test support: a private folder per test with the device directory and the
// log file in it, in-process simulated scanners, and the log read back.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "platform/platform.h"
#include "zerik_sim/simulator.h"

namespace zerik::test {

// Converts a UTF-8 text to GBK, as the library writes its Chinese texts.
inline std::string Gbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string();
    std::string in = utf8;
    std::string out(in.size() * 2 + 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    std::size_t src_left = in.size();
    std::size_t dst_left = out.size();
    iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    out.resize(out.size() - dst_left);
    return out;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline int CountOf(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (std::size_t pos = haystack.find(needle); pos != std::string::npos;
         pos = haystack.find(needle, pos + needle.size())) {
        ++count;
    }
    return count;
}

// Waits up to timeout for condition; true when it came true.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The zerik_sim program in a process of its own, with a pipe on its standard
// input for control lines and its console in a file. Stopped with SIGTERM at
// the end.
class SimProgram {
public:
    explicit SimProgram(const std::vector<std::string>& args,
                        const std::string& console = "/dev/null") {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[0], STDIN_FILENO);
            close(fds[0]);
            close(fds[1]);
            if (std::freopen(console.c_str(), "w", stdout) == nullptr) _exit(127);
            std::vector<char*> argv{const_cast<char*>(ZERIK_SIM_PATH)};
            for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(ZERIK_SIM_PATH, argv.data());
            _exit(127);
        }
        close(fds[0]);
        control_ = fds[1];
    }
    ~SimProgram() {
        if (control_ >= 0) close(control_);
        if (pid_ > 0) Stop(SIGTERM);
    }
    SimProgram(const SimProgram&) = delete;
    SimProgram& operator=(const SimProgram&) = delete;

    void Send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(control_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void CloseInput() {
        close(control_);
        control_ = -1;
    }
    // Sends the signal and returns the exit status.
    int Stop(int signal_number) {
        kill(pid_, signal_number);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    int control_ = -1;
};

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zerik-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // Named mutexes of this test's own: tests running at once do not
        // wait for each other's exchanges.
        setenv("ZERIK_OBJECT_NAMESPACE", std::filesystem::path(dir_).filename().c_str(), 1);
        setenv("ZERIK_DEVICE_DIR", dir_.c_str(), 1);
        setenv("ZERIK_LOG", LogPath().c_str(), 1);
        ReopenLogFile();
    }

    void TearDown() override {
        sims_.clear();
        ReopenLogFile();
        for (const char* name : {"MsgMutex", "PListMutex", "LogMutex"}) os::NamedMutex::Remove(name);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Starts a simulated scanner on device path `number`; extra options as
    // on the zerik_sim command line.
    sim::Simulator& StartSim(int number = 0, const std::vector<std::string>& options = {}) {
        std::string error;
        auto device = sim::MakeScanner(options, &error);
        EXPECT_NE(device, nullptr) << error;
        sims_.push_back(std::make_unique<sim::Simulator>(sim::Options{dir_, number},
                                                         std::move(device)));
        EXPECT_TRUE(sims_.back()->Start());
        return *sims_.back();
    }

    std::string LogPath() const { return dir_ + "/zerik_dll.log"; }
    std::string Log() const { return ReadFile(LogPath()); }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
    std::vector<std::unique_ptr<sim::Simulator>> sims_;
};

}  // namespace zerik::test
