#include "platform/posix/serial_port.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/fd_util.h"
#include "platform/posix/test_seam.h"

namespace orv::win {

SerialPort::SerialPort(int fd) : fd(fd), wakeFd(NewEventFd()), closedFd(NewEventFd()) {}

SerialPort::~SerialPort() {
    int f = fd, w = wakeFd, c = closedFd;
    CloseFd(f);
    CloseFd(w);
    CloseFd(c);
}

bool SerialPort::inputAllowed() const {
    if (!dcb.fDsrSensitivity) return true;
    int lines = 0;
    // A device without modem lines (a pty) counts as DSR high.
    if (::ioctl(fd, TIOCMGET, &lines) != 0) return true;
    return (lines & TIOCM_DSR) != 0;
}

void SerialPort::takeRawLocked(std::span<const uint8_t> raw) {
    uint8_t out[ParmrkDecoder::MaxOutput(4096)];
    while (!raw.empty()) {
        auto piece = raw.first(raw.size() < 4096 ? raw.size() : 4096);
        raw = raw.subspan(piece.size());
        auto r = decoder.decode(piece, out);
        if (r.lineErrors) {
            errors |= kLineErrorBits;
            errNew = true;
        }
        if (r.produced && inputAllowed() && rx.push({out, r.produced}) > 0 && !rxNew) {
            rxNew = true;
            if (eventWaiters > 0) Poke(wakeFd);  // a waiter in another thread learns of it
        }
    }
}

SerialPort::Pull SerialPort::pullLocked() {
    auto injected = seam::TakeRawInput();
    if (!injected.empty()) takeRawLocked(injected);
    uint8_t raw[4096];
    // One byte of room is kept for a marking finished by this read.
    while (rx.room() > 1) {
        std::size_t want = rx.room() - 1 < sizeof raw ? rx.room() - 1 : sizeof raw;
        ssize_t n = ::read(fd, raw, want);
        if (n > 0) {
            takeRawLocked({raw, static_cast<std::size_t>(n)});
            // A short read took all there was: asking again would only say so.
            if (static_cast<std::size_t>(n) < want) return Pull::Ok;
            continue;
        }
        // With VMIN 0 an empty queue reads as 0; a hung-up tty does too, and
        // poll() tells that apart.
        if (n == 0 || errno == EAGAIN) return Pull::Ok;
        if (errno == EINTR) continue;
        return Pull::Gone;
    }
    return Pull::Ok;
}

void SerialPort::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    Poke(closedFd);
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
}

Ref<SerialPort> LookupPort(HANDLE handle) {
    return LookupAs<SerialPort>(handle, HandleKind::Port);
}

DWORD TransferError(int err) {
    switch (err) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
        return ERROR_DEVICE_REMOVED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace orv::win
