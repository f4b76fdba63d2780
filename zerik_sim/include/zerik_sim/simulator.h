// The simulated scanner: serves the driver protocol (see
// zerik_dll/driver/PROTOCOL.md) on the socket of one device path, as the
// scanner and its driver would. Tests run it in-process; the program
// zerik_sim runs it as a separate process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zerik::sim {

struct Options {
    std::string dir;  // folder of the device sockets; empty: the library's default
    int number = 0;   // device path number
};

// One open of the device by a host: its four pipe connections.
class Link {
public:
    virtual ~Link() = default;
    // A message on pipe 1 (at most 64 bytes).
    virtual bool SendMessage(std::span<const uint8_t> bytes) = 0;
    // A transfer on data pipe `index` (0 or 1: pipes 2 and 3), at most 32768 bytes.
    virtual bool SendData(int index, std::span<const uint8_t> bytes) = 0;
};

// What the device can do towards every host at once.
class Host {
public:
    virtual ~Host() = default;
    // A message on pipe 1 of every open link (reports the device raises by itself).
    virtual void Broadcast(std::span<const uint8_t> message) = 0;
    // A data transfer on data pipe `index` of every open link.
    virtual void BroadcastData(int index, std::span<const uint8_t> bytes) = 0;
};

// The device behind the socket. The server calls it for every transfer a
// host writes on pipe 0, from that link's reader thread.
class Device {
public:
    virtual ~Device() = default;
    // Called once by the simulator that serves the device, before Start.
    virtual void Attach(Host* host) = 0;
    virtual void OnHostWrite(Link& from, std::span<const uint8_t> bytes) = 0;
    // A control line (fault injection and test commands); returns the answer
    // text, empty when the line is not one of this device's.
    virtual std::string Control(const std::string& line) = 0;
    virtual std::string ControlHelp() const = 0;
    // Called by Simulator::Stop once the links are closed: ends the device's
    // own activity (threads that send to the host) before it goes away.
    virtual void Halt() {}
};

class Simulator : public Host {
public:
    Simulator(Options options, std::unique_ptr<Device> device);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Creates the socket and starts serving; false when the socket cannot be made.
    bool Start();
    void Stop();

    // Closes every link and removes the socket, as pulling the cable would.
    void Unplug();
    // Serves the socket again after Unplug.
    bool Plug();

    void Broadcast(std::span<const uint8_t> message) override;
    void BroadcastData(int index, std::span<const uint8_t> bytes) override;
    int LinkCount() const;

    // Handles one control line: unplug, plug, or the device's own; returns
    // the answer ("?" and the help for an unknown line).
    std::string Control(const std::string& line);
    std::string ControlHelp() const;

    const std::string& SocketPath() const;
    Device& device();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The standard scanner model, configured by the options of zerik_sim that
// the server does not take itself. Returns nullptr and sets *error for a
// bad option.
std::unique_ptr<Device> MakeScanner(const std::vector<std::string>& args, std::string* error);
// The scanner's options, for --help.
std::string ScannerOptionsHelp();

}  // namespace zerik::sim
