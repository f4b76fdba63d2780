#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"

#ifndef ZERIK_SYSTEM_DIR_DEFAULT
#define ZERIK_SYSTEM_DIR_DEFAULT "/usr/local/share/zerik"
#endif

namespace zerik::os {

void DebugOutput(const char* bytes, std::size_t length) {
    static const bool enabled = [] {
        const char* value = std::getenv("ZERIK_DEBUG_OUTPUT");
        return value != nullptr && value[0] != '\0';
    }();
    if (!enabled) return;
    while (length > 0) {
        const ssize_t n = write(STDERR_FILENO, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}

std::string SystemDirectory() {
    const char* value = std::getenv("ZERIK_SYSTEM_DIR");
    if (value != nullptr && value[0] != '\0') return value;
    return ZERIK_SYSTEM_DIR_DEFAULT;
}

bool EnsurePrivateDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 022) == 0;
}

std::string UserRuntimeDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime != nullptr && runtime[0] == '/'
                          ? std::string(runtime) + "/zerik"
                          : "/tmp/zerik-" + std::to_string(getuid());
    return EnsurePrivateDirectory(dir) ? dir : std::string();
}

}  // namespace zerik::os
