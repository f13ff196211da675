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

// The shortest time between two looks at the output queue while a
// transmit-empty report is due.
constexpr auto kDrainLook = std::chrono::milliseconds(1);

enum class Verdict { Report, Woken, Gone, Closed, Wait };

struct Look {
    Verdict verdict = Verdict::Wait;
    DWORD events = 0;
    short pollEvents = 0;
    Deadline wait = Deadline::Never();
};

// Nothing left to send: the queue is empty and, where the UART tells, its
// transmitter too. queued receives the bytes still in the queue.
bool OutputDrained(SerialPort &p, int &queued) {
    queued = 0;
    if (::ioctl(p.fd, TIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
    if (queued > 0) return false;
#ifdef TIOCSERGETLSR
    if (p.noLineStatus) return true;
    int lsr = 0;
    if (::ioctl(p.fd, TIOCSERGETLSR, &lsr) != 0) {
        p.noLineStatus = true;  // a tty that cannot tell now never will
        return true;
    }
    if (!(lsr & TIOCSER_TEMT)) return false;
#endif
    return true;
}

// How long the queued bytes take on the line at its speed: the next look
// comes when they should have left, instead of every millisecond.
std::chrono::milliseconds DrainTime(const DCB &dcb, int queued) {
    if (dcb.BaudRate == 0 || queued <= 0) return kDrainLook;
    const uint64_t dataBits = dcb.ByteSize ? dcb.ByteSize : 8;
    const uint64_t bits = 1 + dataBits + (dcb.Parity != NOPARITY ? 1 : 0) +
                          (dcb.StopBits == ONESTOPBIT ? 1 : 2);
    const auto ms = std::chrono::milliseconds(uint64_t(queued) * bits * 1000 / dcb.BaudRate);
    return ms > kDrainLook ? ms : kDrainLook;
}

DWORD TransmitEmptyDue(SerialPort &p, Look &look) {
    if (!(p.mask & EV_TXEMPTY) || !p.txArmed) return 0;
    int queued = 0;
    if (OutputDrained(p, queued) || SerialPort::Clock::now() >= p.txReportBy) return EV_TXEMPTY;
    look.wait = Deadline::After(DrainTime(p.dcb, queued)).earliest(Deadline::At(p.txReportBy));
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

// Counts a WaitCommEvent among the port's waiters while it lasts.
class WaiterMark {
public:
    explicit WaiterMark(SerialPort &p) : p_(p) {
        std::lock_guard<std::mutex> lock(p_.mutex);
        ++p_.eventWaiters;
    }
    ~WaiterMark() {
        std::lock_guard<std::mutex> lock(p_.mutex);
        --p_.eventWaiters;
    }
    WaiterMark(const WaiterMark &) = delete;
    WaiterMark &operator=(const WaiterMark &) = delete;

private:
    SerialPort &p_;
};

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
    }
    // A poke left over from before only costs one more look.
    WaiterMark mark(*p);
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
