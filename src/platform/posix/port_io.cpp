// Transfers on an open port. Each completes before it returns, bounded by the
// port's time-outs; the result is also recorded in the OVERLAPPED for
// GetOverlappedResult.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>

#include "platform/posix/arrival_rate.h"
#include "platform/posix/deadline.h"
#include "platform/posix/fd_util.h"
#include "platform/posix/serial_port.h"
#include "platform/posix/test_seam.h"

namespace orv::win {

namespace {

constexpr DWORD MAXDWORD = std::numeric_limits<DWORD>::max();

struct Outcome {
    DWORD error = ERROR_SUCCESS;
    DWORD count = 0;
};

BOOL Complete(const Outcome &o, DWORD *count, OVERLAPPED *ov) {
    if (count) *count = o.count;
    if (ov) {
        ov->Internal = o.error;
        ov->InternalHigh = o.count;
    }
    SetLastError(o.error);
    return o.error == ERROR_SUCCESS ? TRUE : FALSE;
}

// What the time-outs make of a read of n bytes.
struct ReadPlan {
    Deadline total = Deadline::Never();
    DWORD interval = 0;          // the longest gap between bytes, 0: none
    bool immediate = false;      // take what is queued and return
    bool firstByteEnds = false;  // return as soon as anything has arrived
};

ReadPlan PlanRead(const COMMTIMEOUTS &t, DWORD n) {
    ReadPlan plan;
    DWORD mult = t.ReadTotalTimeoutMultiplier, constant = t.ReadTotalTimeoutConstant;
    if (t.ReadIntervalTimeout == MAXDWORD && mult == 0 && constant == 0) {
        plan.immediate = true;
        return plan;
    }
    if (t.ReadIntervalTimeout == MAXDWORD && mult == MAXDWORD && constant != MAXDWORD) {
        plan.firstByteEnds = true;
        plan.total = Deadline::AfterMs(constant);
        return plan;
    }
    if (mult != 0 || constant != 0) plan.total = Deadline::AfterMs(uint64_t{mult} * n + constant);
    if (t.ReadIntervalTimeout != MAXDWORD) plan.interval = t.ReadIntervalTimeout;
    return plan;
}

Deadline WriteDeadline(const COMMTIMEOUTS &t, DWORD n) {
    DWORD mult = t.WriteTotalTimeoutMultiplier, constant = t.WriteTotalTimeoutConstant;
    if (mult == 0 && constant == 0) return Deadline::Never();
    return Deadline::AfterMs(uint64_t{mult} * n + constant);
}

bool Hungup(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

// Waits for the port's fd or its closing; the fd's revents, with closed set
// when the handle was closed meanwhile.
short WaitPort(SerialPort &p, short events, const Deadline &deadline, bool *closed) {
    pollfd fds[2] = {{p.fd, events, 0}, {p.closedFd, POLLIN, 0}};
    int r = ::poll(fds, 2, deadline.pollTimeoutMs());
    if (r <= 0) return 0;
    *closed = (fds[1].revents & POLLIN) != 0;
    return fds[0].revents;
}

// One step of a read: takes in what the kernel holds and moves queued bytes
// to the caller's buffer.
struct Step {
    DWORD moved = 0;
    bool lineError = false;
    bool gone = false;
};

Step TakeQueued(SerialPort &p, uint8_t *buf, DWORD want) {
    std::lock_guard<std::mutex> lock(p.mutex);
    Step s;
    s.gone = p.pullLocked() == SerialPort::Pull::Gone;
    s.lineError = p.errors != 0;
    if (!s.lineError) s.moved = static_cast<DWORD>(p.rx.pop({buf, want}));
    return s;
}

// Sleeps until the deadline unless the handle is closed first; true then.
bool SleepUnlessClosed(SerialPort &p, const Deadline &deadline) {
    pollfd fd{p.closedFd, POLLIN, 0};
    return ::poll(&fd, 1, deadline.pollTimeoutMs()) > 0 && (fd.revents & POLLIN);
}

Outcome ReadPort(SerialPort &p, uint8_t *buf, DWORD n) {
    ReadPlan plan;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        if (p.errors) return {ERROR_OPERATION_ABORTED, 0};
        plan = PlanRead(p.timeouts, n);
    }
    Outcome o;
    auto lastByte = Deadline::Clock::now();
    ArrivalRate rate;
    bool hungUp = false;
    for (;;) {
        Step s = TakeQueued(p, buf + o.count, n - o.count);
        if (s.moved) lastByte = Deadline::Clock::now();
        rate.note(s.moved, lastByte);
        o.count += s.moved;
        if (s.lineError) return {ERROR_OPERATION_ABORTED, o.count};
        if (o.count == n || plan.immediate || (plan.firstByteEnds && o.count > 0)) return o;
        // A hung-up tty reads as empty: what it held has been taken now.
        if (s.gone || (hungUp && s.moved == 0)) return {ERROR_DEVICE_REMOVED, o.count};
        Deadline wait = plan.total;
        if (plan.interval && o.count > 0)
            wait = wait.earliest(Deadline::At(lastByte + std::chrono::milliseconds(plan.interval)));
        if (wait.expired()) return o;
        // Not with an interval limit: a sleeping reader would not see a gap.
        const auto lull = s.moved && !plan.interval ? rate.lull(n - o.count)
                                                    : std::chrono::milliseconds(0);
        bool closed = false;
        if (lull.count() > 0) {
            closed = SleepUnlessClosed(p, Deadline::After(lull).earliest(wait));
        } else {
            short revents = WaitPort(p, POLLIN, wait, &closed);
            hungUp = Hungup(revents);
        }
        if (closed) return {ERROR_OPERATION_ABORTED, o.count};
    }
}

// Arms EV_TXEMPTY for the write just made: reported once the output queue is
// empty, or at the latest 2 ms per byte still queued plus 1 s from now.
void ArmTransmitEmpty(SerialPort &p) {
    int queued = 0;
    if (::ioctl(p.fd, TIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
    std::lock_guard<std::mutex> lock(p.mutex);
    p.txArmed = true;
    p.txReportBy = SerialPort::Clock::now() + std::chrono::milliseconds(2 * queued + 1000);
    if (p.eventWaiters > 0) Poke(p.wakeFd);
}

Outcome WritePort(SerialPort &p, const uint8_t *buf, DWORD n) {
    Deadline deadline = Deadline::Never();
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        if (p.errors) return {ERROR_OPERATION_ABORTED, 0};
        deadline = WriteDeadline(p.timeouts, n);
    }
    const DWORD limit = static_cast<DWORD>(seam::CapWrite(n));
    Outcome o;
    while (o.count < limit) {
        ssize_t w = ::write(p.fd, buf + o.count, limit - o.count);
        if (w > 0) {
            o.count += static_cast<DWORD>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) return {TransferError(errno), o.count};
        if (deadline.expired()) break;
        bool closed = false;
        short revents = WaitPort(p, POLLOUT, deadline, &closed);
        if (closed) return {ERROR_OPERATION_ABORTED, o.count};
        if (Hungup(revents) && !(revents & POLLOUT)) return {ERROR_DEVICE_REMOVED, o.count};
    }
    return o;
}

}  // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, DWORD *read, OVERLAPPED *ov) {
    auto p = LookupPort(file);
    if (!p) return Complete({ERROR_INVALID_HANDLE, 0}, read, ov);
    if (!buffer && toRead) return Complete({ERROR_INVALID_PARAMETER, 0}, read, ov);
    if (toRead == 0) return Complete({}, read, ov);
    return Complete(ReadPort(*p, static_cast<uint8_t *>(buffer), toRead), read, ov);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, DWORD *written, OVERLAPPED *ov) {
    auto p = LookupPort(file);
    if (!p) return Complete({ERROR_INVALID_HANDLE, 0}, written, ov);
    if (!buffer && toWrite) return Complete({ERROR_INVALID_PARAMETER, 0}, written, ov);
    Outcome o = WritePort(*p, static_cast<const uint8_t *>(buffer), toWrite);
    // Every write, also a failed or short one, is followed by a report.
    ArmTransmitEmpty(*p);
    return Complete(o, written, ov);
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED *ov, DWORD *transferred, BOOL) {
    if (!LookupPort(file)) return Complete({ERROR_INVALID_HANDLE, 0}, transferred, nullptr);
    if (!ov) return Complete({ERROR_INVALID_PARAMETER, 0}, transferred, nullptr);
    return Complete({static_cast<DWORD>(ov->Internal), static_cast<DWORD>(ov->InternalHigh)},
                    transferred, nullptr);
}

BOOL PurgeComm(HANDLE port, DWORD flags) {
    auto p = LookupPort(port);
    if (!p) return Complete({ERROR_INVALID_HANDLE, 0}, nullptr, nullptr);
    // Transfers complete before they return: there is never one to abort.
    const bool tx = (flags & PURGE_TXCLEAR) != 0, rx = (flags & PURGE_RXCLEAR) != 0;
    if (tx && !rx) ::tcflush(p->fd, TCOFLUSH);
    if (rx) {
        std::lock_guard<std::mutex> lock(p->mutex);
        ::tcflush(p->fd, tx ? TCIOFLUSH : TCIFLUSH);
        p->rx.clear();
        p->decoder.reset();
        p->rxNew = false;
    }
    return Complete({}, nullptr, nullptr);
}

BOOL ClearCommError(HANDLE port, DWORD *errors, COMSTAT *stat) {
    auto p = LookupPort(port);
    if (!p) return Complete({ERROR_INVALID_HANDLE, 0}, nullptr, nullptr);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->pullLocked();
    if (errors) *errors = p->errors;
    p->errors = 0;
    if (stat) {
        std::memset(stat, 0, sizeof *stat);
        int kernelIn = 0, out = 0;
        if (::ioctl(p->fd, FIONREAD, &kernelIn) != 0 || kernelIn < 0) kernelIn = 0;
        if (::ioctl(p->fd, TIOCOUTQ, &out) != 0 || out < 0) out = 0;
        stat->cbInQue = static_cast<DWORD>(p->rx.size()) + static_cast<DWORD>(kernelIn);
        stat->cbOutQue = static_cast<DWORD>(out);
    }
    return Complete({}, nullptr, nullptr);
}

}  // namespace orv::win
