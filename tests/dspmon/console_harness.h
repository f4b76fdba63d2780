// Running dspmon against the zerik_sim program: a private folder per test
// (device directory, log, working directory, a stand-in for the external
// command b), the simulated scanner as a child process, and DSP memory read
// and written through the library from the test.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "zerik_dll.h"

namespace dspmon::test {

namespace fs = std::filesystem;

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline uint16_t Swap(uint16_t word) {
    return static_cast<uint16_t>(word << 8 | word >> 8);
}

// A child process with its standard streams on files (stdin may be a pipe
// the test writes to); the
// arguments are prepared before the fork so the child only calls what is
// safe between fork and exec.
class Child {
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Kill(); }

    // Starts `argv` in `cwd` with its standard streams on the three files;
    // an empty `stdin_path` gives a pipe that Send writes to.
    bool Start(const std::vector<std::string>& argv, const fs::path& cwd,
               const fs::path& stdin_path, const fs::path& stdout_path,
               const fs::path& stderr_path) {
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        int in_pipe[2] = {-1, -1};
        if (stdin_path.empty() && pipe2(in_pipe, O_CLOEXEC) != 0) return false;
        const std::string cwd_text = cwd.string();
        const std::string in_text = stdin_path.string();
        const std::string out_text = stdout_path.string();
        const std::string err_text = stderr_path.string();
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            if (chdir(cwd_text.c_str()) != 0) _exit(126);
            const int in = in_pipe[0] >= 0 ? in_pipe[0] : open(in_text.c_str(), O_RDONLY);
            const int out = open(out_text.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_text.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0) _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            execv(args[0], args.data());
            _exit(127);
        }
        if (in_pipe[0] >= 0) {
            close(in_pipe[0]);
            input_fd_ = in_pipe[1];
        }
        return true;
    }

    // Writes to the child's stdin pipe.
    bool Send(const std::string& text) {
        return input_fd_ >= 0 &&
               write(input_fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // Ends the child's input.
    void CloseInput() {
        if (input_fd_ >= 0) close(input_fd_);
        input_fd_ = -1;
    }

    // Waits for the child to end; false (and the child killed) after the time-out.
    bool Wait(std::chrono::milliseconds timeout, int* status) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0) {
            const pid_t done = waitpid(pid_, status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                Kill();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Ends the child with SIGTERM, then SIGKILL if it lingers.
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        if (!Wait(std::chrono::milliseconds(5000), &status)) Kill();
        CloseInput();
    }

    void Kill() {
        CloseInput();
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int input_fd_ = -1;
};

struct ConsoleRun {
    std::string output;
    std::string errors;
    bool ended = false;  // the console ended by itself
    int exit_code = -1;
    std::chrono::milliseconds elapsed{0};
};

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/dspmon-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        fs::create_directory(device_dir());
        fs::create_directory(work_dir());
        fs::create_directory(root_ / "bin");
        // The console runs "b <file>" after a scan; this one says what it got.
        WriteText(root_ / "bin" / "b", "#!/bin/sh\necho \"b:[$*]\"\n");
        fs::permissions(root_ / "bin" / "b", fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        old_path_ = path != nullptr ? path : "/usr/bin:/bin";
        setenv("PATH", ((root_ / "bin").string() + ":" + old_path_).c_str(), 1);
        setenv("ZERIK_DEVICE_DIR", device_dir().c_str(), 1);
        setenv("ZERIK_LOG", (root_ / "zerik_dll.log").c_str(), 1);
        // The library's named mutexes are per user; a namespace of our own
        // keeps other tests' exchanges from holding up ours.
        setenv("ZERIK_OBJECT_NAMESPACE", root_.filename().c_str(), 1);
    }

    void TearDown() override {
        CloseDevice();
        sim_.Stop();
        setenv("PATH", old_path_.c_str(), 1);
        for (const char* name : {"MsgMutex", "PListMutex", "LogMutex"}) {
            const std::string object =
                "/zerik-" + std::to_string(getuid()) + "-" + name + "-" + root_.filename().string();
            shm_unlink(object.c_str());
        }
        unsetenv("ZERIK_OBJECT_NAMESPACE");
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path device_dir() const { return root_ / "dev"; }
    fs::path work_dir() const { return root_ / "work"; }
    std::string Log() const { return ReadText(root_ / "zerik_dll.log"); }

    // Starts zerik_sim on device 0 of this test's device directory.
    void StartSim(const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv = {ZERIK_SIM_PATH, "--dir", device_dir().string()};
        argv.insert(argv.end(), options.begin(), options.end());
        ASSERT_TRUE(sim_.Start(argv, root_, "", root_ / "sim.out", root_ / "sim.err"));
        const fs::path socket = device_dir() / "ZERIK-0";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(socket)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline)
                << "zerik_sim did not come up: " << ReadText(root_ / "sim.err");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Gives zerik_sim a control line and waits for its answer.
    void SimControl(const std::string& line, const std::string& answer) {
        ASSERT_TRUE(sim_.Send(line + "\n"));
        ASSERT_TRUE(WaitForText(root_ / "sim.out", answer)) << ReadText(root_ / "sim.out");
    }

    static bool WaitForText(const fs::path& file, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (ReadText(file).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    // Starts dspmon with its input on a pipe; the test feeds it with
    // console.Send and reads root_/"console.out".
    void StartConsole(Child& console) {
        CloseDevice();
        ASSERT_TRUE(console.Start({DSPMON_PATH}, work_dir(), "", root_ / "console.out",
                                  root_ / "console.err"));
    }

    // Runs dspmon in the working directory with `script` as its input.
    ConsoleRun RunConsole(const std::string& script,
                          std::chrono::seconds timeout = std::chrono::seconds(60)) {
        CloseDevice();  // the console has the scanner to itself
        WriteText(root_ / "script.txt", script);
        ConsoleRun run;
        Child console;
        const auto start = std::chrono::steady_clock::now();
        if (!console.Start({DSPMON_PATH}, work_dir(), root_ / "script.txt", root_ / "console.out",
                           root_ / "console.err")) {
            ADD_FAILURE() << "cannot start dspmon";
            return run;
        }
        int status = 0;
        run.ended = console.Wait(timeout, &status);
        run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (run.ended && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
        run.output = ReadText(root_ / "console.out");
        run.errors = ReadText(root_ / "console.err");
        // Every run ends by itself with status 0 (a sanitizer report would not).
        EXPECT_TRUE(run.ended) << "dspmon did not end";
        EXPECT_EQ(run.exit_code, 0) << run.errors;
        return run;
    }

    // The library's view of the scanner, opened on first use.
    DeviceContext* Device() {
        if (dev_ == nullptr) dev_ = Zerik_OpenDevice(nullptr);
        EXPECT_NE(dev_, nullptr) << "the test cannot open the simulated scanner";
        return dev_;
    }

    void CloseDevice() {
        if (dev_ != nullptr) Zerik_CloseDevice(dev_);
        dev_ = nullptr;
    }

    // DSP 0 words as they travel: the first byte on the wire is the high byte.
    std::vector<uint16_t> ReadRaw(uint16_t address, std::size_t count) {
        std::vector<uint16_t> words(count);
        DeviceContext* dev = Device();
        for (std::size_t done = 0; dev != nullptr && done < count;) {
            const int chunk = static_cast<int>(std::min<std::size_t>(28, count - done));
            const int32_t result = Zerik_ReadDsp(dev, 0, address + static_cast<int32_t>(done),
                                                 chunk, words.data() + done);
            if (result != 0) {
                ADD_FAILURE() << "Zerik_ReadDsp at " << address + done << ": " << result;
                break;
            }
            done += static_cast<std::size_t>(chunk);
        }
        return words;
    }

    // DSP 0 words as the console's d and e commands show them.
    std::vector<uint16_t> ReadWords(uint16_t address, std::size_t count) {
        std::vector<uint16_t> words = ReadRaw(address, count);
        for (uint16_t& word : words) word = Swap(word);
        return words;
    }

    void WriteWords(uint16_t address, const std::vector<uint16_t>& words) {
        std::vector<uint16_t> raw;
        for (const uint16_t word : words) raw.push_back(Swap(word));
        DeviceContext* dev = Device();
        for (std::size_t done = 0; dev != nullptr && done < raw.size();) {
            const int chunk = static_cast<int>(std::min<std::size_t>(28, raw.size() - done));
            ASSERT_EQ(Zerik_WriteDsp(dev, 0, address + static_cast<int32_t>(done), chunk,
                                     raw.data() + done),
                      0);
            done += static_cast<std::size_t>(chunk);
        }
    }

    fs::path root_;
    std::string old_path_;
    Child sim_;
    DeviceContext* dev_ = nullptr;
};

}  // namespace dspmon::test
