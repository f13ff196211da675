// Line settings, time-outs and modem control lines of an open port.
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <mutex>

#include "platform/posix/serial_port.h"
#include "platform/posix/termios_map.h"
#include "platform/posix/test_seam.h"

namespace orv::win {

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Raises or lowers DTR or RTS; false where the device has no such line.
bool SetModemLine(int fd, DWORD function) {
    seam::RecordModemLine(function);
    int bits = (function == SETDTR || function == CLRDTR) ? TIOCM_DTR : TIOCM_RTS;
    unsigned long request = (function == SETDTR || function == SETRTS) ? TIOCMBIS : TIOCMBIC;
    return ::ioctl(fd, request, &bits) == 0;
}

// DTR and RTS as the DCB asks; a handshake setting leaves the line to the
// driver. Failures are quiet: a pty has no modem lines.
void ApplyModemLines(int fd, const DCB &dcb) {
    if (dcb.fDtrControl == DTR_CONTROL_ENABLE) SetModemLine(fd, SETDTR);
    if (dcb.fDtrControl == DTR_CONTROL_DISABLE) SetModemLine(fd, CLRDTR);
    if (dcb.fRtsControl == RTS_CONTROL_ENABLE) SetModemLine(fd, SETRTS);
    if (dcb.fRtsControl == RTS_CONTROL_DISABLE) SetModemLine(fd, CLRRTS);
}

}  // namespace

BOOL GetCommState(HANDLE port, DCB *dcb) {
    auto p = LookupPort(port);
    if (!p) return Fail(ERROR_INVALID_HANDLE);
    if (!dcb) return Fail(ERROR_INVALID_PARAMETER);
    termios t{};
    if (::tcgetattr(p->fd, &t) != 0) return Fail(TransferError(errno));
    std::lock_guard<std::mutex> lock(p->mutex);
    *dcb = p->dcb;
    TermiosToDcb(t, *dcb);
    return TRUE;
}

BOOL SetCommState(HANDLE port, DCB *dcb) {
    auto p = LookupPort(port);
    if (!p) return Fail(ERROR_INVALID_HANDLE);
    if (!dcb) return Fail(ERROR_INVALID_PARAMETER);
    termios t{};
    if (::tcgetattr(p->fd, &t) != 0) return Fail(TransferError(errno));
    if (!DcbToTermios(*dcb, t)) return Fail(ERROR_INVALID_PARAMETER);
    seam::RecordTermios(t);
    if (::tcsetattr(p->fd, TCSANOW, &t) != 0)
        return Fail(errno == EINVAL ? ERROR_INVALID_PARAMETER : TransferError(errno));
    ApplyModemLines(p->fd, *dcb);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->dcb = *dcb;
    p->dcb.DCBlength = sizeof(DCB);
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts) {
    auto p = LookupPort(port);
    if (!p) return Fail(ERROR_INVALID_HANDLE);
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(p->mutex);
    *timeouts = p->timeouts;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts) {
    auto p = LookupPort(port);
    if (!p) return Fail(ERROR_INVALID_HANDLE);
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER);
    if (seam::RefuseCommTimeouts()) return Fail(ERROR_GEN_FAILURE);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->timeouts = *timeouts;
    return TRUE;
}

// The port's own receive queue is sized at open; the kernel's are its own.
BOOL SetupComm(HANDLE port, DWORD, DWORD) {
    if (!LookupPort(port)) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE port, DWORD function) {
    auto p = LookupPort(port);
    if (!p) return Fail(ERROR_INVALID_HANDLE);
    switch (function) {
    case SETDTR:
    case CLRDTR:
    case SETRTS:
    case CLRRTS:
        return SetModemLine(p->fd, function) ? TRUE : Fail(ERROR_NOT_SUPPORTED);
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
}

}  // namespace orv::win
