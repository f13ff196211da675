#include "platform/posix/fd_util.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace orv::win {

short PollOne(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int r = ::poll(&p, 1, timeoutMs);
        if (r > 0) return p.revents;
        if (r == 0) return 0;
        if (errno != EINTR) return 0;
    }
}

bool ReadableNow(int fd) { return (PollOne(fd, POLLIN, 0) & POLLIN) != 0; }

std::size_t DrainFd(int fd) {
    std::size_t total = 0;
    uint8_t buf[256];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return total;
    }
}

void Poke(int eventFd) {
    uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

int NewEventFd() { return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

void CloseFd(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace orv::win
