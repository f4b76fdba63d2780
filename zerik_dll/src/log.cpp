#include "log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/platform.h"

namespace zerik {
namespace {

constexpr std::size_t kLineSize = 1024;

struct LogState {
    std::mutex mutex;  // orders this process's threads; LogMutex orders processes
    std::unique_ptr<os::NamedMutex> lock;
    std::FILE* file = nullptr;
};

LogState& state() {
    static LogState instance;  // never destroyed before the process ends
    return instance;
}

// Creates the missing directories of a default path, each private to us.
bool MakeParents(const std::string& path) {
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1)) {
        const std::string dir = path.substr(0, pos);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

std::FILE* OpenLogFile() {
    const std::string path = LogFilePath();
    if (path.empty()) return nullptr;
    if (std::getenv("ZERIK_LOG") == nullptr) MakeParents(path);
    // O_NOFOLLOW: a link planted at the log's place is refused, not followed.
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "a+b");
    if (file == nullptr) close(fd);
    return file;
}

}  // namespace

std::string LogFilePath() {
    const char* configured = std::getenv("ZERIK_LOG");
    if (configured != nullptr && configured[0] != '\0') return configured;
    const char* state_home = std::getenv("XDG_STATE_HOME");
    if (state_home != nullptr && state_home[0] == '/') {
        return std::string(state_home) + "/zerik/zerik_dll.log";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/zerik/zerik_dll.log";
    }
    return std::string();
}

int LibraryLog(const char* format, ...) {
    const os::LocalTime now = os::Now();
    LogState& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!s.lock) s.lock = os::NamedMutex::Open("LogMutex");
    // Without the lock the line is still written, as the process mutex
    // keeps this process's lines whole.
    os::NamedMutexLock lock(s.lock.get(), os::kInfinite);

    char line[kLineSize];
    const int stamp = std::snprintf(line, sizeof line, "[%02d %02d:%02d:%02d.%03d]: ", now.day,
                                    now.hour, now.minute, now.second, now.millisecond);
    const std::size_t stamp_len = static_cast<std::size_t>(stamp);
    va_list args;
    va_start(args, format);
    const int wanted = std::vsnprintf(line + stamp_len, sizeof line - stamp_len, format, args);
    va_end(args);
    std::size_t text_len = 0;
    if (wanted > 0) {
        text_len = static_cast<std::size_t>(wanted);
        const std::size_t room = sizeof line - stamp_len - 1;
        if (text_len > room) {
            // A cut line still ends its line in the file.
            text_len = room;
            line[stamp_len + text_len - 1] = '\n';
        }
    }
    const std::size_t total = stamp_len + text_len;
    os::DebugOutput(line, total);
    if (s.file == nullptr) s.file = OpenLogFile();
    if (s.file != nullptr) {
        std::fwrite(line, 1, total, s.file);
        std::fflush(s.file);
    }
    return 0;
}

void Trace(const char* /*format*/, ...) {}

void ReopenLogFile() {
    LogState& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.file != nullptr) std::fclose(s.file);
    s.file = nullptr;
}

}  // namespace zerik
