// The tests' view of the Linux simulators behind the COM ports: requests over
// the control channel of orvwine_simhost (tests/windows/host), whose TCP port
// run_wine_tests.sh passes in ORVWINE_CONTROL_PORT.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace orv::wintest {

// The ports the host serves.
constexpr int kDevicePort = 1;       // the device simulator on a direct cable
constexpr int kModemPort = 2;        // a modem, with the device behind its calls
constexpr int kHighDevicePort = 12;  // the device again, as COM12
constexpr int kUnmappedPort = 200;   // no port behind it

// One request; the words after "ok". A reply "err ..." fails the test.
std::string Ask(const std::string &request);

struct SeenFrame {
    bool fromHost = false;
    char kind = '?';  // C command, W wake-up, A ack, R reply, B data block
    std::vector<uint8_t> bytes;
};

// The device's frames on `port` from index `from` on, and how many there are.
std::vector<SeenFrame> FramesSince(int port, std::size_t from);
std::size_t FrameCount(int port);
// The frames of one kind sent by the host.
std::vector<std::vector<uint8_t>> HostFrames(const std::vector<SeenFrame> &frames, char kind);

// The AT lines the modem received, from index `from` on.
std::vector<std::string> AtLinesSince(int port, std::size_t from);
std::size_t AtLineCount(int port);

// What the pty shim logged about the port's pty ("dtr=1 rts=0", "speed=9600
// data=8 parity=n stop=1"), from index `from` on.
std::vector<std::string> ShimLinesSince(int port, std::size_t from);
std::size_t ShimLineCount(int port);
// The last of those lines that begins with `prefix`, or "".
std::string LastShimLine(const std::vector<std::string> &lines, const std::string &prefix);

std::vector<uint8_t> Region(int port, uint32_t argument);
void SetRegion(int port, uint32_t argument, const std::vector<uint8_t> &bytes);

using Clock = std::chrono::steady_clock;
inline double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Sets a [Ports] entry of the system profile for the life of the object and
// puts the old one back afterwards. A null entry removes the key.
class PortsEntry {
public:
    PortsEntry(int port, const char *entry);
    ~PortsEntry();
    PortsEntry(const PortsEntry &) = delete;
    PortsEntry &operator=(const PortsEntry &) = delete;

private:
    std::string key_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace orv::wintest
