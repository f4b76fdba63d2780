// Backend over Unix-domain SOCK_SEQPACKET sockets: device path number n is
// the socket ZERIK-<n> in the device directory, and each of the four pipes
// is a connection of its own, so that one record is one transfer.
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "driver/driver.h"
#include "platform/platform.h"

namespace zerik::driver {

struct Device {
    std::array<int, 4> fds{-1, -1, -1, -1};
};

namespace {

constexpr uint32_t kPipeCount = 4;

void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t NewToken() {
    uint32_t token = 0;
    while (token == 0) {
        if (getrandom(&token, sizeof token, 0) != static_cast<ssize_t>(sizeof token)) {
            token = static_cast<uint32_t>(getpid()) ^ os::TickCount();
        }
    }
    return token;
}

int ConnectPipe(const std::string& path, uint32_t pipe, uint32_t token) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    std::array<uint8_t, 8> hello{};
    PutLe32(hello.data(), pipe);
    PutLe32(hello.data() + 4, token);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size())) {
        close(fd);
        return -1;
    }
    return fd;
}

void Destroy(Device* device) {
    for (int& fd : device->fds) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    std::default_delete<Device>()(device);
}

Device* Open(int number) {
    const std::string dir = DeviceDirectory();
    if (dir.empty()) return nullptr;
    const std::string path = dir + "/ZERIK-" + std::to_string(number);
    auto device = std::make_unique<Device>();
    const uint32_t token = NewToken();
    for (uint32_t pipe = 0; pipe < kPipeCount; ++pipe) {
        device->fds[pipe] = ConnectPipe(path, pipe, token);
        if (device->fds[pipe] < 0) {
            Destroy(device.release());
            return nullptr;
        }
    }
    return device.release();
}

void Shutdown(Device* device) {
    for (int fd : device->fds) {
        if (fd >= 0) shutdown(fd, SHUT_RDWR);
    }
}

// Waits until fd is ready for `events`; Done when ready, Failed when the
// connection is gone.
IoStatus WaitReady(int fd, short events, uint32_t timeout_ms) {
    pollfd p{fd, events, 0};
    const uint32_t start = os::TickCount();
    for (;;) {
        const uint32_t spent = os::TickCount() - start;
        const int left = spent >= timeout_ms ? 0 : static_cast<int>(timeout_ms - spent);
        const int rc = poll(&p, 1, left);
        if (rc > 0) {
            if ((p.revents & events) != 0) return IoStatus::Done;
            return IoStatus::Failed;  // hang-up or error without data
        }
        if (rc == 0) return IoStatus::Timeout;
        if (errno != EINTR) return IoStatus::Failed;
    }
}

IoStatus Read(Device* device, uint32_t pipe, uint8_t* buffer, uint32_t* length,
              uint32_t timeout_ms) {
    if (pipe == 0 || pipe >= kPipeCount) return IoStatus::Failed;
    const int fd = device->fds[pipe];
    const IoStatus ready = WaitReady(fd, POLLIN, timeout_ms);
    if (ready != IoStatus::Done) return ready;
    ssize_t n;
    do {
        n = recv(fd, buffer, *length, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n == 0) return IoStatus::Failed;  // the peer closed: records are never empty
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            *length = 0;  // completed without data
            return IoStatus::Done;
        }
        return IoStatus::Failed;
    }
    *length = static_cast<uint32_t>(n);
    return IoStatus::Done;
}

IoStatus Write(Device* device, uint32_t pipe, const uint8_t* data, uint32_t length,
               uint32_t* written, uint32_t timeout_ms) {
    if (pipe != 0) return IoStatus::Failed;
    if (length == 0) {
        *written = 0;  // records are never empty: nothing goes out
        return IoStatus::Done;
    }
    const int fd = device->fds[pipe];
    const IoStatus ready = WaitReady(fd, POLLOUT, timeout_ms);
    if (ready != IoStatus::Done) return ready;
    ssize_t n;
    do {
        n = send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN ? IoStatus::Timeout : IoStatus::Failed;
    *written = static_cast<uint32_t>(n);
    return IoStatus::Done;
}

constexpr Backend kSocketBackend{"socket", Open, Shutdown, Destroy, Read, Write};

}  // namespace

const Backend& ActiveBackend() { return kSocketBackend; }

std::string DeviceDirectory() {
    const char* dir = std::getenv("ZERIK_DEVICE_DIR");
    if (dir != nullptr && dir[0] != '\0') return dir;
    return os::UserRuntimeDirectory();
}

DeviceRef OpenDevice(int number) {
    const Backend& backend = ActiveBackend();
    Device* device = backend.open(number);
    if (device == nullptr) return nullptr;
    return DeviceRef(device, backend.destroy);
}

}  // namespace zerik::driver
