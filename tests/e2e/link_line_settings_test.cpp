// The profile entry of a port decides the line: speed, parity and stop bits
// in direct mode, the speed alone in modem mode.
#include <gtest/gtest.h>
#include <termios.h>

#include "link/line_settings.h"
#include "link/link_state.h"
#include "link/port_io.h"
#include "orvlink.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv {
namespace {

constexpr int kPort = 7;
constexpr uint32_t kEarlierSpeed = 2400;

struct EntryCase {
    const char *name;
    const char *entry;  // nullptr: no entry at all
    bool directOk;
    uint32_t directBaud;  // baudRate after the direct open (kEarlierSpeed when unchanged)
    bool twoStopBits;
    uint8_t parity;
    bool modemOk;
    uint32_t modemBaud;
};

const EntryCase kCases[] = {
    {"NoEntry", nullptr, true, 9600, false, NOPARITY, true, 9600},
    {"Plain9600", "9600,n,8,1", true, 9600, false, NOPARITY, true, 9600},
    {"EvenParity19200", "19200,e,8,1", true, 19200, false, EVENPARITY, true, 19200},
    {"OddParityTwoStopBits", "4800,o,8,2", true, 4800, true, ODDPARITY, true, 4800},
    {"CapitalParityLetter", "9600,N,8,1", false, 9600, false, 0, true, 9600},
    {"MarkParity", "9600,m,8,1", false, 9600, false, 0, true, 9600},
    {"SevenDataBitsIgnored", "9600,n,7,1", true, 9600, false, NOPARITY, true, 9600},
    {"OneAndAHalfReadsAsOne", "9600,n,8,1.5", true, 9600, false, NOPARITY, true, 9600},
    {"EndsBeforeStopBits", "9600,n,8", false, 9600, false, 0, true, 9600},
    {"SpeedNotInList", "300,n,8,1", false, kEarlierSpeed, false, 0, false, kEarlierSpeed},
    {"NoComma", "9600", false, kEarlierSpeed, false, 0, false, kEarlierSpeed},
    {"ConversionStopsAtLetter", "9600x,n,8,1", true, 9600, false, NOPARITY, true, 9600},
    {"LeadingSpaceSkipped", " 9600,n,8,1", true, 9600, false, NOPARITY, true, 9600},
    {"DefaultTextItself", "Key Not Found", true, 9600, false, NOPARITY, true, 9600},
    {"DefaultTextSmallLetters", "key not found", false, kEarlierSpeed, false, 0, false,
     kEarlierSpeed},
    {"EvenTwoStopBits2400", "2400,e,7,2", true, 2400, true, EVENPARITY, true, 2400},
    {"Fastest", "38400,n,8,1", true, 38400, false, NOPARITY, true, 38400},
    {"StopBitThree", "9600,n,8,3", false, 9600, false, 0, true, 9600},
    {"CutTo19Characters", "000000000000009600,n,8,1", false, 9600, false, 0, true, 9600},
};

speed_t SpeedConstant(uint32_t baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B0;
    }
}

class LineSettingsTest : public ::testing::TestWithParam<EntryCase> {
protected:
    void SetUp() override {
        env.mapPort(kPort, line.slavePath());
        if (GetParam().entry) env.setLineSettings(kPort, GetParam().entry);
        linkState.baudRate = kEarlierSpeed;
    }
    void TearDown() override { OrvCloseComm(); }

    sim::SimLine line;
    test::TestEnv env;
};

TEST_P(LineSettingsTest, DirectModeTakesSpeedParityAndStopBitsFromTheEntry) {
    const EntryCase &c = GetParam();
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), c.directOk ? 1 : 0);
    EXPECT_EQ(linkState.baudRate, c.directBaud);
    if (!c.directOk) {
        EXPECT_EQ(linkState.portHandle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(linkState.frameReadEvent, nullptr);
        return;
    }
    termios tio{};
    ASSERT_TRUE(line.slaveAttributes(tio));
    EXPECT_EQ(cfgetospeed(&tio), SpeedConstant(c.directBaud));
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(linkState.portHandle, &dcb));
    EXPECT_EQ(dcb.BaudRate, c.directBaud);
    EXPECT_NE(linkState.frameReadEvent, nullptr);
}

TEST_P(LineSettingsTest, ModemModeTakesOnlyTheSpeed) {
    const EntryCase &c = GetParam();
    // The open stops at the dial with no modem on the line; the speed is
    // already in force by then, which is what this shows.
    DCB before{};
    linkState.portHandle = CreateFileA("COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(linkState.portHandle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(GetCommState(linkState.portHandle, &before));
    EXPECT_EQ(ApplyModemLineSettings(kPort), c.modemOk ? 1 : 0);
    EXPECT_EQ(linkState.baudRate, c.modemBaud);
    if (c.modemOk) {
        termios tio{};
        ASSERT_TRUE(line.slaveAttributes(tio));
        EXPECT_EQ(cfgetospeed(&tio), SpeedConstant(c.modemBaud));
        EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    }
    CloseHandle(linkState.portHandle);
    linkState.portHandle = INVALID_HANDLE_VALUE;
}

INSTANTIATE_TEST_SUITE_P(EntryTexts, LineSettingsTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(LineEntryParsing, JudgesEachFieldOnItsOwn) {
    const LineEntry e = ParseLineEntry("19200,x,8,7");
    EXPECT_TRUE(e.hasComma);
    EXPECT_TRUE(e.speedAccepted);
    EXPECT_EQ(e.speed, 19200u);
    EXPECT_FALSE(e.parityAccepted);
    EXPECT_FALSE(e.stopBitsAccepted);
    EXPECT_TRUE(ParseLineEntry("Key Not Found").missing);
    EXPECT_FALSE(ParseLineEntry("").hasComma);
    EXPECT_FALSE(ParseLineEntry("-9600,n,8,1").speedAccepted);
    EXPECT_FALSE(ParseLineEntry("99999999999999999999,n,8,1").speedAccepted);
}

TEST(ReadMultiplier, FollowsTheLineSpeed) {
    const std::pair<uint32_t, DWORD> table[] = {{0, 0},    {1200, 16}, {2400, 8}, {4800, 4},
                                                {9600, 2}, {19200, 1}, {38400, 0}};
    for (auto [baud, multiplier] : table) EXPECT_EQ(ReadMultiplierFor(baud), multiplier) << baud;
}

}  // namespace
}  // namespace orv
