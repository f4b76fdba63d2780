// Test support: a private folder per test with the device directory and the
// log file in it, in-process simulated scanners, and the log read back.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>
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
