#include "control_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace orv::winehost {

namespace {

constexpr int kLookMs = 100;

[[noreturn]] void ThrowErrno(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, kLookMs) > 0;
}

bool SendAll(int fd, const std::string &text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ControlChannel::ControlChannel() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) ThrowErrno("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        ThrowErrno("bind");
    if (::listen(listenFd_, 4) != 0) ThrowErrno("listen");
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        ThrowErrno("getsockname");
    port_ = ntohs(address.sin_port);
}

ControlChannel::~ControlChannel() { ::close(listenFd_); }

void ControlChannel::serve(const Handler &handler, const std::atomic<bool> &stop) {
    while (!stop.load()) {
        if (!Readable(listenFd_)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        serveConnection(fd, handler, stop);
        ::close(fd);
    }
}

void ControlChannel::serveConnection(int fd, const Handler &handler,
                                     const std::atomic<bool> &stop) {
    std::string pending;
    while (!stop.load()) {
        if (!Readable(fd)) continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            std::string request = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!request.empty() && request.back() == '\r') request.pop_back();
            if (!SendAll(fd, handler(request) + "\n")) return;
        }
    }
}

}  // namespace orv::winehost
