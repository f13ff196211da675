// A line protocol on a TCP port of the loopback interface: each line received
// is a request, answered with one line. The Windows tests under Wine reach the
// Linux simulators through it (Winsock works under Wine; the simulators' own
// objects do not cross into Windows processes).
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace orv::winehost {

class ControlChannel {
public:
    using Handler = std::function<std::string(const std::string &request)>;

    // Listens on 127.0.0.1 at a port the system picks. Throws on failure.
    ControlChannel();
    ~ControlChannel();
    ControlChannel(const ControlChannel &) = delete;
    ControlChannel &operator=(const ControlChannel &) = delete;

    int port() const { return port_; }
    // Serves one connection after another until stop is set (looked at least
    // every 100 ms).
    void serve(const Handler &handler, const std::atomic<bool> &stop);

private:
    void serveConnection(int fd, const Handler &handler, const std::atomic<bool> &stop);

    int listenFd_ = -1;
    int port_ = 0;
};

}  // namespace orv::winehost
