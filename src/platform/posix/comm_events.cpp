// The port's event reports: SetCommMask, GetCommMask and WaitCommEvent.
// EV_RXCHAR comes from the kernel's input (the port first takes in all that is
// queued, so POLLIN means new bytes), EV_TXEMPTY from the output queue after a
// write, EV_ERR from a marked line error. Modem-line changes are not reported.
#include <poll.h>
#include <sys/ioctl.h>

#include <mutex>

#include "platform/posix/deadline.h"
#include "platform/posix/fd_util.h"
#include "platform/posix/serial_port.h"

namespace orv::win {

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The output queue is looked at this often while a transmit-empty report is due.
constexpr auto kDrainLook = std::chrono::milliseconds(1);

enum class Verdict { Report, Woken, Gone, Closed, Wait };

struct Look {
    Verdict verdict = Verdict::Wait;
    DWORD events = 0;
    short pollEvents = 0;
    Deadline wait = Deadline::Never();
};

// Nothing left to send: the queue is empty and, where the UART tells, its
// transmitter too.
bool OutputDrained(int fd) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) return false;
#ifdef TIOCSERGETLSR
    int lsr = 0;
    if (::ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT)) return false;
#endif
    return true;
}

DWORD TransmitEmptyDue(SerialPort &p, Look &look) {
    if (!(p.mask & EV_TXEMPTY) || !p.txArmed) return 0;
    if (OutputDrained(p.fd) || SerialPort::Clock::now() >= p.txReportBy) return EV_TXEMPTY;
    look.wait = Deadline::After(kDrainLook).earliest(Deadline::At(p.txReportBy));
    return 0;
}

// What the port has to report now, or how to wait for it.
Look LookAtPort(SerialPort &p, uint64_t generation, bool hungUp) {
    std::lock_guard<std::mutex> lock(p.mutex);
    Look look;
    if (p.closing) return {Verdict::Closed};
    if (p.maskGeneration != generation) return {Verdict::Woken};
    bool gone = p.pullLocked() == SerialPort::Pull::Gone;
    if ((p.mask & EV_RXCHAR) && p.rxNew) look.events |= EV_RXCHAR;
    if ((p.mask & EV_ERR) && p.errNew) look.events |= EV_ERR;
    look.events |= TransmitEmptyDue(p, look);
    if (look.events) {
        if (look.events & EV_RXCHAR) p.rxNew = false;
        if (look.events & EV_ERR) p.errNew = false;
        if (look.events & EV_TXEMPTY) p.txArmed = false;
        look.verdict = Verdict::Report;
        return look;
    }
    if (gone || hungUp) return {Verdict::Gone};
    // Input is watched only when it is asked for and the queue can take it.
    if ((p.mask & EV_RXCHAR) && p.rx.room() > 1) look.pollEvents = POLLIN;
    return look;
}

}  // namespace

BOOL SetCommMask(HANDLE port, DWORD mask) {
    auto p = LookupPort(port);
    if (!p) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->mask = mask;
    // A pending wait ends with the report 0.
    ++p->maskGeneration;
    Poke(p->wakeFd);
    return TRUE;
}

BOOL GetCommMask(HANDLE port, DWORD *mask) {
    auto p = LookupPort(port);
    if (!p) return Fail(ERROR_INVALID_HANDLE);
    if (!mask) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(p->mutex);
    *mask = p->mask;
    return TRUE;
}

BOOL WaitCommEvent(HANDLE port, DWORD *eventMask, OVERLAPPED *) {
    if (eventMask) *eventMask = 0;
    auto p = LookupPort(port);
    if (!p) return Fail(ERROR_INVALID_HANDLE);
    if (!eventMask) return Fail(ERROR_INVALID_PARAMETER);
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(p->mutex);
        // With no event to wait for, nothing could end the wait.
        if (p->mask == 0) return Fail(ERROR_INVALID_PARAMETER);
        generation = p->maskGeneration;
        DrainFd(p->wakeFd);
    }
    bool hungUp = false;
    for (;;) {
        Look look = LookAtPort(*p, generation, hungUp);
        switch (look.verdict) {
        case Verdict::Report: *eventMask = look.events; return TRUE;
        case Verdict::Woken: return TRUE;
        case Verdict::Gone: return Fail(ERROR_DEVICE_REMOVED);
        case Verdict::Closed: return Fail(ERROR_INVALID_HANDLE);
        case Verdict::Wait: break;
        }
        pollfd fds[3] = {{p->fd, look.pollEvents, 0}, {p->wakeFd, POLLIN, 0}, {p->closedFd, POLLIN, 0}};
        if (::poll(fds, 3, look.wait.pollTimeoutMs()) < 0) continue;
        if (fds[1].revents & POLLIN) DrainFd(p->wakeFd);
        hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
}

}  // namespace orv::win
