// Line settings between DCB and termios, as asked of the tty (a pty keeps
// only some of them, so the full mapping is checked here).
#include <gtest/gtest.h>

#include <termios.h>

#include "platform/posix/termios_map.h"

namespace orv::win {
namespace {

DCB Dcb(DWORD baud, BYTE size, BYTE parity, BYTE stop) {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = baud;
    d.fBinary = 1;
    d.ByteSize = size;
    d.Parity = parity;
    d.StopBits = stop;
    return d;
}

struct LineCase {
    DWORD baud;
    speed_t speed;
    BYTE size;
    tcflag_t csize;
    BYTE parity;
    tcflag_t parityBits;
    BYTE stop;
    tcflag_t stopBits;
};

const LineCase kLines[] = {
    {110, B110, 8, CS8, NOPARITY, 0, ONESTOPBIT, 0},
    {1200, B1200, 7, CS7, EVENPARITY, PARENB, TWOSTOPBITS, CSTOPB},
    {2400, B2400, 8, CS8, ODDPARITY, PARENB | PARODD, ONESTOPBIT, 0},
    {9600, B9600, 5, CS5, NOPARITY, 0, ONESTOPBIT, 0},
    {19200, B19200, 6, CS6, EVENPARITY, PARENB, ONESTOPBIT, 0},
    {38400, B38400, 8, CS8, NOPARITY, 0, TWOSTOPBITS, CSTOPB},
    {57600, B57600, 8, CS8, NOPARITY, 0, ONESTOPBIT, 0},
    {115200, B115200, 8, CS8, ODDPARITY, PARENB | PARODD, TWOSTOPBITS, CSTOPB},
};

TEST(TermiosMap, PutsSpeedSizeParityAndStopBitsIntoTermios) {
    for (const auto &c : kLines) {
        SCOPED_TRACE(c.baud);
        termios t{};
        ASSERT_TRUE(DcbToTermios(Dcb(c.baud, c.size, c.parity, c.stop), t));
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, c.csize);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD), c.parityBits);
        EXPECT_EQ(t.c_cflag & CSTOPB, c.stopBits);
        DCB back{};
        TermiosToDcb(t, back);
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.ByteSize, c.size);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stop);
    }
}

TEST(TermiosMap, RefusesWhatTermiosCannotExpress) {
    struct Refused {
        const char *what;
        DCB dcb;
    } refused[] = {
        {"speed 14400", Dcb(14400, 8, NOPARITY, ONESTOPBIT)},
        {"speed 0", Dcb(0, 8, NOPARITY, ONESTOPBIT)},
        {"4 data bits", Dcb(9600, 4, NOPARITY, ONESTOPBIT)},
        {"9 data bits", Dcb(9600, 9, NOPARITY, ONESTOPBIT)},
        {"mark parity", Dcb(9600, 8, 3, ONESTOPBIT)},
        {"space parity", Dcb(9600, 8, 4, ONESTOPBIT)},
        {"1.5 stop bits", Dcb(9600, 8, NOPARITY, 1)},
    };
    for (auto &r : refused) {
        SCOPED_TRACE(r.what);
        termios t{};
        EXPECT_FALSE(DcbToTermios(r.dcb, t));
    }
}

TEST(TermiosMap, LineIsRawWithMarkedErrorsAndNoFlowControlUnlessAsked) {
    termios t{};
    DCB d = Dcb(9600, 8, EVENPARITY, ONESTOPBIT);
    ASSERT_TRUE(DcbToTermios(d, t));
    EXPECT_EQ(t.c_iflag, tcflag_t{PARMRK});  // no INPCK, no IGNPAR, no ISTRIP, no IXON
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    d.fParity = 1;
    d.fOutxCtsFlow = 1;
    d.fOutX = 1;
    d.fInX = 1;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    ASSERT_TRUE(DcbToTermios(d, t));
    EXPECT_EQ(t.c_iflag, tcflag_t{PARMRK | INPCK | IXON | IXOFF});
    EXPECT_EQ(t.c_cflag & CRTSCTS, tcflag_t{CRTSCTS});
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    DCB back{};
    TermiosToDcb(t, back);
    EXPECT_EQ(back.fParity, 1u);
    EXPECT_EQ(back.fOutxCtsFlow, 1u);
    EXPECT_EQ(back.fOutX, 1u);
    EXPECT_EQ(back.fInX, 1u);
}

}  // namespace
}  // namespace orv::win
