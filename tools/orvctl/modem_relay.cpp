#include "modem_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "port_holder.h"

namespace orv::ctl {

namespace {

// A speed no host asks for: while it stands, nobody has opened the port anew.
constexpr speed_t kCallMark = B50;

int OpenRaw(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "open " + path);
    termios attributes{};
    if (::tcgetattr(fd, &attributes) == 0) {
        ::cfmakeraw(&attributes);
        ::tcsetattr(fd, TCSANOW, &attributes);
    }
    return fd;
}

}  // namespace

ModemRelay::ModemRelay(sim::SimLine &device, const std::string &hostPath)
    : hostPath_(hostPath), probeFd_(OpenRaw(hostPath)), deviceFd_(OpenRaw(device.slavePath())) {}

ModemRelay::~ModemRelay() {
    ::close(probeFd_);
    ::close(deviceFd_);
}

void ModemRelay::markLine() {
    termios attributes{};
    if (::tcgetattr(probeFd_, &attributes) != 0) return;
    ::cfsetispeed(&attributes, kCallMark);
    ::cfsetospeed(&attributes, kCallMark);
    ::tcsetattr(probeFd_, TCSANOW, &attributes);
}

bool ModemRelay::callStands() const {
    termios attributes{};
    if (::tcgetattr(probeFd_, &attributes) != 0 || ::cfgetospeed(&attributes) != kCallMark) return false;
    return PortHeldOpen(hostPath_);
}

bool ModemRelay::toDevice(sim::SimLine &host) {
    uint8_t buffer[4096];
    const long count = host.readSome(buffer, sim::Clock::now() + std::chrono::milliseconds(10));
    if (count < 0) return false;
    for (long done = 0; done < count;) {
        const ssize_t n = ::write(deviceFd_, buffer + done, static_cast<size_t>(count - done));
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (n > 0) done += n;
        if (n < 0) {
            pollfd writable{deviceFd_, POLLOUT, 0};
            ::poll(&writable, 1, 10);
        }
    }
    return true;
}

bool ModemRelay::toHost(sim::SimLine &host) {
    uint8_t buffer[4096];
    const ssize_t count = ::read(deviceFd_, buffer, sizeof buffer);
    if (count < 0) return errno == EAGAIN || errno == EINTR;
    if (count == 0) return false;
    return host.writeAll(std::span<const uint8_t>(buffer, static_cast<size_t>(count)));
}

void ModemRelay::carry(sim::SimLine &host) {
    // What the device sent after the last call ended belongs to no call.
    uint8_t stale[4096];
    while (::read(deviceFd_, stale, sizeof stale) > 0) {
    }
    markLine();
    while (!host.stopped()) {
        pollfd ready[2] = {{host.masterFd(), POLLIN, 0}, {deviceFd_, POLLIN, 0}};
        if (::poll(ready, 2, 20) < 0 && errno != EINTR) return;
        // Looked at before reading: a new session's first line is the modem's.
        if (!callStands()) return;
        if ((ready[0].revents & POLLIN) && !toDevice(host)) return;
        // The device's line gone: so is the call, as on a cable.
        if ((ready[1].revents & (POLLHUP | POLLERR)) && !(ready[1].revents & POLLIN)) {
            host.hangUp();
            return;
        }
        if ((ready[1].revents & POLLIN) && !toHost(host)) return;
    }
}

}  // namespace orv::ctl
