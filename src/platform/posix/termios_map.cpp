#include "platform/posix/termios_map.h"

#include <array>
#include <cstddef>

namespace orv::win {

namespace {

struct SpeedEntry {
    DWORD baud;
    speed_t speed;
};

constexpr std::array<SpeedEntry, 22> kSpeeds{{
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600},
}};

bool SizeOf(BYTE byteSize, tcflag_t *csize) {
    switch (byteSize) {
    case 5: *csize = CS5; return true;
    case 6: *csize = CS6; return true;
    case 7: *csize = CS7; return true;
    case 8: *csize = CS8; return true;
    default: return false;
    }
}

BYTE ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

// Mark and space parity and 1.5 stop bits have no termios form.
bool ParityOf(BYTE parity, tcflag_t *bits) {
    switch (parity) {
    case NOPARITY: *bits = 0; return true;
    case ODDPARITY: *bits = PARENB | PARODD; return true;
    case EVENPARITY: *bits = PARENB; return true;
    default: return false;
    }
}

bool StopBitsOf(BYTE stopBits, tcflag_t *bits) {
    switch (stopBits) {
    case ONESTOPBIT: *bits = 0; return true;
    case TWOSTOPBITS: *bits = CSTOPB; return true;
    default: return false;
    }
}

}  // namespace

bool SpeedOf(DWORD baudRate, speed_t *speed) {
    for (const auto &e : kSpeeds) {
        if (e.baud == baudRate) {
            *speed = e.speed;
            return true;
        }
    }
    return false;
}

DWORD BaudRateOf(speed_t speed) {
    for (const auto &e : kSpeeds)
        if (e.speed == speed) return e.baud;
    return 0;
}

void MakeRawLine(termios &t) {
    cfmakeraw(&t);
    // PARMRK without IGNPAR or ISTRIP: errors arrive marked, FF doubled.
    t.c_iflag = PARMRK;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

bool DcbToTermios(const DCB &dcb, termios &t) {
    speed_t speed{};
    tcflag_t csize{}, parity{}, stop{};
    if (!SpeedOf(dcb.BaudRate, &speed) || !SizeOf(dcb.ByteSize, &csize) ||
        !ParityOf(dcb.Parity, &parity) || !StopBitsOf(dcb.StopBits, &stop))
        return false;
    MakeRawLine(t);
    if (dcb.fParity) t.c_iflag |= INPCK;
    if (dcb.fOutX) t.c_iflag |= IXON;
    if (dcb.fInX) t.c_iflag |= IXOFF;
    if (dcb.fOutX || dcb.fInX) {
        t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    }
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= csize | parity | stop;
    if (dcb.fOutxCtsFlow) t.c_cflag |= CRTSCTS;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return true;
}

void TermiosToDcb(const termios &t, DCB &dcb) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = BaudRateOf(cfgetospeed(&t));
    dcb.fBinary = 1;
    dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
    dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    dcb.ByteSize = ByteSizeOf(t.c_cflag);
    dcb.Parity = !(t.c_cflag & PARENB) ? NOPARITY : (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
}

}  // namespace orv::win
