// Opening ports: names, the device file, exclusive use across processes, and
// the line settings and modem lines of an open port.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform_port_fixture.h"

namespace orv::win::test {
namespace {

HANDLE Open(const char *name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

TEST(PortOpen, MissingDevicesAndBadNamesAreNotFound) {
    orv::test::TestEnv env;
    env.mapPort(3, env.dir() + "/no-such-device");
    struct {
        const char *name;
    } cases[] = {{"COM3"}, {"COM250"} /* /dev/ttyS249 */, {"COM0"}, {"COM"}, {"LPT1"},
                 {"COM1x"},  {""},     {"\\\\.\\COM3"}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_EQ(Open(c.name), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(Open(nullptr), INVALID_HANDLE_VALUE);
}

TEST(PortOpen, AFileThatIsNoTtyIsRefused) {
    orv::test::TestEnv env;
    env.mapPort(4, "/dev/null");
    EXPECT_EQ(Open("COM4"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    env.mapPort(4, env.profilePath());
    EXPECT_EQ(Open("COM4"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(PortOpen, BothNameFormsOpenTheMappedDevice) {
    orv::sim::SimLine line;
    orv::test::TestEnv env;
    env.mapPort(12, line.slavePath());
    for (const char *name : {"COM12", "\\\\.\\COM12"}) {
        SCOPED_TRACE(name);
        HANDLE h = Open(name);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_NE(h, nullptr);
        EXPECT_TRUE(CloseHandle(h));
        EXPECT_FALSE(CloseHandle(h));
    }
}

TEST_F(PortTest, OpenIsExclusiveAcrossProcessesAndARefusedOpenLeavesTheHolderAlone) {
    termios before{};
    int probe = ::open(line.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    ASSERT_EQ(tcgetattr(probe, &before), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE h = Open("COM7");
        _exit(h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's open was not refused as shared";

    // The same process is refused too: no sharing.
    EXPECT_EQ(Open("COM7"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    termios after{};
    ASSERT_EQ(tcgetattr(probe, &after), 0);
    ::close(probe);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

    setTimeouts(0, 0, 500, 2, 500);
    DWORD count = 0;
    uint8_t out[3] = {7, 8, 9};
    EXPECT_TRUE(WriteFile(port, out, 3, &count, nullptr));
    EXPECT_EQ(received(3), (Bytes{7, 8, 9}));
    send({1, 2});
    uint8_t in[2];
    EXPECT_TRUE(ReadFile(port, in, 2, &count, nullptr));
    EXPECT_EQ(Bytes(in, in + count), (Bytes{1, 2}));
}

TEST_F(PortTest, AClosedPortCanBeOpenedAgain) {
    ASSERT_TRUE(CloseHandle(port));
    port = Open("COM7");
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
}

DCB StateOf(HANDLE port) {
    DCB dcb{};
    EXPECT_TRUE(GetCommState(port, &dcb));
    return dcb;
}

TEST_F(PortTest, SpeedAndStopBitsReachTheTtyParityAndDataBitsAreAskedFor) {
    struct LineCase {
        DWORD baud;
        speed_t speed;
        BYTE size;
        tcflag_t csize;
        BYTE parity;
        tcflag_t parityBits;
        BYTE stop;
    } cases[] = {
        {1200, B1200, 8, CS8, ODDPARITY, PARENB | PARODD, TWOSTOPBITS},
        {9600, B9600, 7, CS7, EVENPARITY, PARENB, ONESTOPBIT},
        {38400, B38400, 8, CS8, NOPARITY, 0, ONESTOPBIT},
        {115200, B115200, 5, CS5, NOPARITY, 0, TWOSTOPBITS},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.baud);
        DCB dcb = StateOf(port);
        EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
        dcb.BaudRate = c.baud;
        dcb.ByteSize = c.size;
        dcb.Parity = c.parity;
        dcb.fParity = c.parity != NOPARITY;
        dcb.StopBits = c.stop;
        ASSERT_TRUE(SetCommState(port, &dcb));

        DCB back = StateOf(port);
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.StopBits, c.stop);
        EXPECT_EQ(back.fParity, dcb.fParity);

        termios asked{};
        ASSERT_TRUE(seam::LastTermios(&asked));
        EXPECT_EQ(cfgetospeed(&asked), c.speed);
        EXPECT_EQ(asked.c_cflag & CSIZE, c.csize);
        EXPECT_EQ(asked.c_cflag & (PARENB | PARODD), c.parityBits);
        EXPECT_EQ((asked.c_iflag & INPCK) != 0, c.parity != NOPARITY);
        EXPECT_EQ(asked.c_iflag & (PARMRK | IGNPAR | ISTRIP), tcflag_t{PARMRK});
    }
}

TEST_F(PortTest, SettingsTheLineCannotTakeAreRefused) {
    struct Refused {
        const char *what;
        void (*change)(DCB &);
    } cases[] = {
        {"speed 14400", [](DCB &d) { d.BaudRate = 14400; }},
        {"4 data bits", [](DCB &d) { d.ByteSize = 4; }},
        {"mark parity", [](DCB &d) { d.Parity = 3; }},
        {"space parity", [](DCB &d) { d.Parity = 4; }},
        {"1.5 stop bits", [](DCB &d) { d.StopBits = 1; }},
    };
    DCB good = StateOf(port);
    good.BaudRate = 4800;
    ASSERT_TRUE(SetCommState(port, &good));
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        DCB dcb = good;
        c.change(dcb);
        EXPECT_FALSE(SetCommState(port, &dcb));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(StateOf(port).BaudRate, 4800u);
    }
}

TEST_F(PortTest, ModemLineRequestsFailQuietlyOnAPtyAndAreLogged) {
    DCB dcb = StateOf(port);
    dcb.BaudRate = 9600;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    ASSERT_TRUE(SetCommState(port, &dcb));
    EXPECT_FALSE(EscapeCommFunction(port, CLRDTR));
    EXPECT_EQ(seam::ModemLineLog(), (std::vector<DWORD>{SETDTR, SETRTS, CLRDTR}));
    EXPECT_FALSE(EscapeCommFunction(port, 99));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PortTest, TimeoutsAreKeptAndTheSeamCanRefuseThem) {
    COMMTIMEOUTS t{0, 16, 3000, 2, 3000};
    EXPECT_EQ(SetCommTimeouts(port, &t), 1);
    COMMTIMEOUTS back{};
    EXPECT_TRUE(GetCommTimeouts(port, &back));
    EXPECT_EQ(std::memcmp(&t, &back, sizeof t), 0);

    seam::Faults faults;
    faults.refuseCommTimeouts = true;
    seam::Inject(faults);
    COMMTIMEOUTS other{0, 0, 100, 2, 100};
    EXPECT_EQ(SetCommTimeouts(port, &other), FALSE);
    EXPECT_TRUE(GetCommTimeouts(port, &back));
    EXPECT_EQ(back.ReadTotalTimeoutConstant, 3000u);
    EXPECT_TRUE(SetupComm(port, 65536, 65536));
}

TEST_F(PortTest, ALineInModemModeTakesInputWhereDsrCannotBeRead) {
    DCB dcb = StateOf(port);
    dcb.BaudRate = 9600;
    dcb.fDsrSensitivity = 1;
    ASSERT_TRUE(SetCommState(port, &dcb));
    send({0x4F, 0x4B});
    setTimeouts(0, 0, 500);
    uint8_t buf[2];
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(port, buf, 2, &count, nullptr));
    EXPECT_EQ(count, 2u);
}

}  // namespace
}  // namespace orv::win::test
