// The socket side of the driver protocol: one listening SOCK_SEQPACKET
// socket per device path, four connections per open (one per pipe), each
// starting with an 8-byte hello: pipe number and open token, both 32-bit
// little-endian.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "zerik_sim/simulator.h"

namespace zerik::sim {
namespace {

constexpr int kPipes = 4;
constexpr int kHelloTimeoutMs = 1000;
constexpr int kPollStepMs = 100;

uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool SendRecord(int fd, std::span<const uint8_t> bytes) {
    for (;;) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0) return static_cast<std::size_t>(n) == bytes.size();
        if (errno != EINTR) return false;
    }
}

class SocketLink : public Link {
public:
    explicit SocketLink(std::array<int, kPipes> fds) : fds_(fds) {}
    ~SocketLink() override {
        Shutdown();
        if (reader_.joinable()) {
            // The reader itself may drop the last reference while it serves a command.
            if (reader_.get_id() == std::this_thread::get_id()) {
                reader_.detach();
            } else {
                reader_.join();
            }
        }
        for (int fd : fds_) close(fd);
    }

    bool SendMessage(std::span<const uint8_t> bytes) override {
        std::lock_guard<std::mutex> lock(send_mutex_[1]);
        return !closed_.load() && SendRecord(fds_[1], bytes);
    }
    bool SendData(int index, std::span<const uint8_t> bytes) override {
        if (index != 0 && index != 1) return false;
        std::lock_guard<std::mutex> lock(send_mutex_[2 + index]);
        return !closed_.load() && SendRecord(fds_[2 + index], bytes);
    }

    void StartReader(Device* device) {
        reader_ = std::thread([this, device] { ReadCommands(device); });
    }
    void Shutdown() {
        closed_.store(true);
        for (int fd : fds_) shutdown(fd, SHUT_RDWR);
    }
    bool closed() const { return closed_.load(); }

private:
    void ReadCommands(Device* device) {
        std::array<uint8_t, 65536> buffer{};
        while (!closed_.load()) {
            pollfd p{fds_[0], POLLIN, 0};
            const int rc = poll(&p, 1, kPollStepMs);
            if (rc == 0 || (rc < 0 && errno == EINTR)) continue;
            const ssize_t n = rc > 0 ? recv(fds_[0], buffer.data(), buffer.size(), 0) : -1;
            if (n <= 0) break;  // the host closed the pipe: the open has ended
            device->OnHostWrite(*this, std::span<const uint8_t>(buffer.data(),
                                                                static_cast<std::size_t>(n)));
        }
        closed_.store(true);
    }

    std::array<int, kPipes> fds_;
    std::array<std::mutex, kPipes> send_mutex_;
    std::atomic<bool> closed_{false};
    std::thread reader_;
};

}  // namespace

struct Simulator::Impl {
    Options options;
    std::unique_ptr<Device> device;
    std::string path;
    int listen_fd = -1;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    mutable std::mutex mutex;  // links, pending and listen_fd
    std::vector<std::shared_ptr<SocketLink>> links;
    std::map<uint32_t, std::array<int, kPipes>> pending;

    bool Listen();
    void CloseListener();
    void AcceptLoop();
    void TakeConnection(int fd);
    void Reap();
    std::vector<std::shared_ptr<SocketLink>> LiveLinks() const;
};

bool Simulator::Impl::Listen() {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, 64) != 0) {
        close(fd);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    listen_fd = fd;
    return true;
}

void Simulator::Impl::CloseListener() {
    std::lock_guard<std::mutex> lock(mutex);
    if (listen_fd < 0) return;
    unlink(path.c_str());
    shutdown(listen_fd, SHUT_RDWR);
    close(listen_fd);
    listen_fd = -1;
    for (auto& [token, fds] : pending) {
        for (int fd : fds) {
            if (fd >= 0) close(fd);
        }
    }
    pending.clear();
}

void Simulator::Impl::AcceptLoop() {
    while (!stopping.load()) {
        int fd;
        {
            std::lock_guard<std::mutex> lock(mutex);
            fd = listen_fd;
        }
        if (fd < 0) {
            Reap();
            os::SleepMs(kPollStepMs);
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        const int rc = poll(&p, 1, kPollStepMs);
        Reap();
        if (rc <= 0 || (p.revents & POLLIN) == 0) continue;
        const int conn = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn >= 0) TakeConnection(conn);
    }
}

void Simulator::Impl::TakeConnection(int fd) {
    std::array<uint8_t, 8> hello{};
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kHelloTimeoutMs) <= 0 ||
        recv(fd, hello.data(), hello.size(), 0) != static_cast<ssize_t>(hello.size())) {
        close(fd);
        return;
    }
    const uint32_t pipe = GetLe32(hello.data());
    const uint32_t token = GetLe32(hello.data() + 4);
    if (pipe >= kPipes || token == 0) {
        close(fd);
        return;
    }
    std::shared_ptr<SocketLink> link;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto [it, fresh] = pending.try_emplace(token);
        if (fresh) it->second.fill(-1);
        if (it->second[pipe] >= 0) close(it->second[pipe]);  // a repeated pipe replaces the old
        it->second[pipe] = fd;
        for (int f : it->second) {
            if (f < 0) return;
        }
        link = std::make_shared<SocketLink>(it->second);
        pending.erase(it);
        links.push_back(link);
    }
    link->StartReader(device.get());
}

void Simulator::Impl::Reap() {
    std::vector<std::shared_ptr<SocketLink>> dead;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = links.begin(); it != links.end();) {
            if ((*it)->closed()) {
                dead.push_back(std::move(*it));
                it = links.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The links' destructors join their readers outside the lock.
}

std::vector<std::shared_ptr<SocketLink>> Simulator::Impl::LiveLinks() const {
    std::lock_guard<std::mutex> lock(mutex);
    return links;
}

Simulator::Simulator(Options options, std::unique_ptr<Device> device)
    : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
    impl_->device = std::move(device);
    const std::string dir =
        impl_->options.dir.empty() ? os::UserRuntimeDirectory() : impl_->options.dir;
    impl_->path = dir + "/ZERIK-" + std::to_string(impl_->options.number);
    impl_->device->Attach(this);
}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start() {
    if (!impl_->Listen()) return false;
    impl_->acceptor = std::thread([this] { impl_->AcceptLoop(); });
    return true;
}

void Simulator::Stop() {
    impl_->stopping.store(true);
    if (impl_->acceptor.joinable()) impl_->acceptor.join();
    Unplug();
    impl_->device->Halt();
}

void Simulator::Unplug() {
    impl_->CloseListener();
    std::vector<std::shared_ptr<SocketLink>> links;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        links.swap(impl_->links);
    }
    for (auto& link : links) link->Shutdown();
}

bool Simulator::Plug() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (impl_->listen_fd >= 0) return true;
    }
    return impl_->Listen();
}

void Simulator::Broadcast(std::span<const uint8_t> message) {
    for (auto& link : impl_->LiveLinks()) link->SendMessage(message);
}

void Simulator::BroadcastData(int index, std::span<const uint8_t> bytes) {
    for (auto& link : impl_->LiveLinks()) link->SendData(index, bytes);
}

int Simulator::LinkCount() const {
    int live = 0;
    for (auto& link : impl_->LiveLinks()) live += link->closed() ? 0 : 1;
    return live;
}

std::string Simulator::Control(const std::string& line) {
    if (line == "unplug") {
        Unplug();
        return "unplugged";
    }
    if (line == "plug") return Plug() ? "plugged" : "plug failed";
    std::string answer = impl_->device->Control(line);
    if (answer.empty()) answer = "? unknown control line\n" + ControlHelp();
    return answer;
}

std::string Simulator::ControlHelp() const {
    return "  unplug                close every connection and remove the socket\n"
           "  plug                  serve the socket again\n" +
           impl_->device->ControlHelp();
}

const std::string& Simulator::SocketPath() const { return impl_->path; }

Device& Simulator::device() { return *impl_->device; }

}  // namespace zerik::sim
