#include "sim/sim_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <thread>

namespace orv::sim {

namespace {

[[noreturn]] void throwErrno(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) return 0;
    if (left > 1000000) return 1000000;
    return static_cast<int>(left);
}

}  // namespace

SimLine::SimLine() {
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd_ < 0) throwErrno("posix_openpt");
    if (grantpt(masterFd_) != 0 || unlockpt(masterFd_) != 0) throwErrno("unlockpt");
    char name[128];
    if (ptsname_r(masterFd_, name, sizeof name) != 0) throwErrno("ptsname_r");
    slavePath_ = name;
    // Our own handle on the slave keeps the line up between host sessions.
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) throwErrno("open pty slave");
    termios tio{};
    if (tcgetattr(slaveFd_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slaveFd_, TCSANOW, &tio);
    }
    int flags = fcntl(masterFd_, F_GETFL);
    fcntl(masterFd_, F_SETFL, flags | O_NONBLOCK);
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) throwErrno("eventfd");
}

SimLine::~SimLine() {
    if (masterFd_ >= 0) ::close(masterFd_);
    if (slaveFd_ >= 0) ::close(slaveFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
}

bool SimLine::slaveAttributes(struct termios &attributes) const {
    return slaveFd_ >= 0 && tcgetattr(slaveFd_, &attributes) == 0;
}

void SimLine::setPacing(uint32_t baud, uint32_t bitsPerByte) {
    std::lock_guard<std::mutex> lock(writeMutex_);
    for (Timetable *t : {&rx_, &tx_}) *t = Timetable{baud, bitsPerByte == 0 ? 10 : bitsPerByte};
    baud_ = baud;
}

Clock::time_point SimLine::Timetable::due(uint64_t k) const {
    const uint64_t bits = (crossed + k) * bitsPerByte;
    return epoch + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::nanoseconds(bits * 1000000000ull / baud));
}

uint64_t SimLine::Timetable::waiting(Clock::time_point now) const {
    if (now <= epoch) return 0;
    const auto ns = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - epoch).count());
    const uint64_t total = ns * baud / (uint64_t{bitsPerByte} * 1000000000ull);
    return total > crossed ? total - crossed : 0;
}

std::size_t SimLine::Timetable::perMillisecond() const {
    return std::max<std::size_t>(1, baud / (bitsPerByte * 1000u));
}

void SimLine::Timetable::restart(Clock::time_point now) {
    epoch = now;
    crossed = 0;
    idle = false;
}

bool SimLine::waitReadable(Clock::time_point deadline) {
    for (;;) {
        if (stopped_ || masterFd_ < 0) return false;
        pollfd fds[2] = {{masterFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        int timeout = msUntil(deadline);
        int r = ::poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents) return false;
        if (fds[0].revents & POLLIN) return true;
        // POLLHUP without data: no slave is open. We hold one, so this is rare;
        // treat it like silence until the deadline.
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            if (!sleepUntil(std::min(deadline, Clock::now() + std::chrono::milliseconds(1))))
                return false;
        }
        if (Clock::now() >= deadline) return false;
    }
}

std::size_t SimLine::queuedFromHost() const {
    int queued = 0;
    if (masterFd_ < 0 || ::ioctl(masterFd_, FIONREAD, &queued) != 0 || queued < 0) return 0;
    return static_cast<std::size_t>(queued);
}

long SimLine::readSome(std::span<uint8_t> buf, Clock::time_point deadline) {
    if (masterFd_ < 0) return -1;
    if (buf.empty()) return 0;
    if (rx_.paced()) return readPaced(buf, deadline);
    if (!waitReadable(deadline)) return masterFd_ < 0 ? -1 : 0;
    ssize_t n = ::read(masterFd_, buf.data(), buf.size());
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return 0;
        if (errno == EIO) return 0;  // no slave open right now
        return -1;
    }
    return n;
}

// Bytes the host has written are handed over as they cross the line, in
// steps of about a millisecond.
long SimLine::readPaced(std::span<uint8_t> buf, Clock::time_point deadline) {
    if (!waitReadable(deadline)) return masterFd_ < 0 ? -1 : 0;
    // The host has just written into a quiet line: its first byte is on its way.
    if (rx_.idle) rx_.restart(Clock::now());
    const std::size_t step =
        std::max<std::size_t>(1, std::min({buf.size(), queuedFromHost(), rx_.perMillisecond()}));
    if (!sleepUntil(std::min(rx_.due(step), deadline))) return 0;
    const std::size_t want =
        static_cast<std::size_t>(std::min<uint64_t>(buf.size(), rx_.waiting(Clock::now())));
    if (want == 0) return 0;
    ssize_t n = ::read(masterFd_, buf.data(), want);
    if (n < 0) {
        rx_.idle = true;
        if (errno == EAGAIN || errno == EINTR || errno == EIO) return 0;
        return -1;
    }
    rx_.crossed += static_cast<uint64_t>(n);
    // Once the host has nothing more queued the line falls quiet, and its
    // next bytes start a burst of their own.
    if (static_cast<std::size_t>(n) < want || queuedFromHost() == 0) rx_.idle = true;
    return n;
}

size_t SimLine::readExact(std::span<uint8_t> buf, Clock::time_point deadline) {
    size_t got = 0;
    while (got < buf.size()) {
        long n = readSome(buf.subspan(got), deadline);
        if (n < 0) break;
        if (n == 0) {
            if (stopped_ || Clock::now() >= deadline) break;
            continue;
        }
        got += static_cast<size_t>(n);
    }
    return got;
}

bool SimLine::writeAll(std::span<const uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(writeMutex_);
    if (tx_.paced()) return writePaced(bytes);
    size_t done = 0;
    while (done < bytes.size()) {
        if (stopped_ || masterFd_ < 0) return false;
        ssize_t n = ::write(masterFd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd fds[2] = {{masterFd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
                ::poll(fds, 2, 10);
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Each step of about a millisecond goes to the host when its last byte has
// crossed. Writes that follow each other within a byte time continue one
// burst, as a device sending frames back to back does.
bool SimLine::writePaced(std::span<const uint8_t> bytes) {
    const auto now = Clock::now();
    if (tx_.idle || now > tx_.due(1)) tx_.restart(now);
    size_t done = 0;
    while (done < bytes.size()) {
        if (stopped_ || masterFd_ < 0) return false;
        const size_t step = std::min(bytes.size() - done, tx_.perMillisecond());
        if (!sleepUntil(tx_.due(step))) return false;
        ssize_t n = ::write(masterFd_, bytes.data() + done, step);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return false;
            // The host is not reading: the line waits for it, then goes on.
            pollfd fds[2] = {{masterFd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
            ::poll(fds, 2, 10);
            tx_.restart(Clock::now());
            continue;
        }
        done += static_cast<size_t>(n);
        tx_.crossed += static_cast<uint64_t>(n);
    }
    return true;
}

void SimLine::drainInput() {
    if (masterFd_ < 0) return;
    uint8_t buf[4096];
    while (::read(masterFd_, buf, sizeof buf) > 0) {
    }
}

void SimLine::stop() {
    stopped_ = true;
    uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(stopFd_, &one, sizeof one);
}

bool SimLine::sleepUntil(Clock::time_point t) {
    for (;;) {
        if (stopped_) return false;
        auto now = Clock::now();
        if (now >= t) return true;
        pollfd fd{stopFd_, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(t - now);
        if (left > std::chrono::milliseconds(2)) {
            ::poll(&fd, 1, static_cast<int>((left.count() - 1000) / 1000));
        } else {
            timespec ts{0, static_cast<long>(left.count()) * 1000};
            ::ppoll(&fd, 1, &ts, nullptr);
        }
    }
}

bool SimLine::waitUntilRead(Clock::time_point deadline) {
    // Bytes written to the master reach the slave's queue a little later, so
    // the queue must stay empty for a while before it counts as read.
    constexpr auto kSettle = std::chrono::milliseconds(10);
    std::optional<Clock::time_point> emptySince;
    for (;;) {
        int queued = 0;
        if (slaveFd_ < 0 || ::ioctl(slaveFd_, FIONREAD, &queued) != 0) return false;
        const auto now = Clock::now();
        if (queued > 0) {
            emptySince.reset();
        } else if (!emptySince) {
            emptySince = now;
        } else if (now - *emptySince >= kSettle) {
            return true;
        }
        if (now >= deadline) return false;
        if (!sleepUntil(now + std::chrono::milliseconds(1))) return false;
    }
}

void SimLine::hangUp() {
    if (masterFd_ >= 0) {
        ::close(masterFd_);
        masterFd_ = -1;
    }
    if (slaveFd_ >= 0) {
        ::close(slaveFd_);
        slaveFd_ = -1;
    }
    uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(stopFd_, &one, sizeof one);
}

}  // namespace orv::sim
