// Opening and closing COM ports mapped by Wine to the simulators' ptys.
#include "support/link_fixtures.h"

namespace orv::wintest {
namespace {

class OpenCloseTest : public DeviceLinkTest {};

TEST_F(OpenCloseTest, OpensAndClosesTheSamePortAgainAndAgain) {
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(OrvOpenComm(kDevicePort, 0, nullptr, 0), 1) << round;
        EXPECT_EQ(OrvCloseComm(), 1) << round;
    }
    EXPECT_EQ(OrvCloseComm(), 1);  // nothing open: still 1
}

TEST_F(OpenCloseTest, RefusesPortNumbersOutsideOneTo999BeforeTouchingAnyPort) {
    ASSERT_EQ(OrvOpenComm(kDevicePort, 0, nullptr, 0), 1);
    for (const int port : {0, -1, 1000}) EXPECT_EQ(OrvOpenComm(port, 0, nullptr, 0), 0) << port;
    // The open link stayed open: it still carries a command.
    uint16_t more = 9;
    EXPECT_EQ(OrvSendCommand(0x10, 0, 1, &more, nullptr, 500), 1);
}

TEST_F(OpenCloseTest, FailsOnAPortWithNothingBehindIt) {
    EXPECT_EQ(OrvOpenComm(kUnmappedPort, 0, nullptr, 0), 0);
    uint16_t more = 9;
    EXPECT_EQ(OrvSendCommand(0x10, 0, 1, &more, nullptr, 100), 0);
}

TEST_F(OpenCloseTest, PortsAboveNineOpenThroughTheDeviceNamespace) {
    const std::size_t mark = FrameCount(kHighDevicePort);
    ASSERT_EQ(OrvOpenComm(kHighDevicePort, 0, nullptr, 0), 1);
    uint16_t more = 9;
    uint32_t value = 0;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 12, &more, &value, 500), 1);
    EXPECT_EQ(value, 12u);
    EXPECT_EQ(HostFrames(FramesSince(kHighDevicePort, mark), 'C').size(), 1u);
}

TEST_F(OpenCloseTest, DirectModeKeepsDtrAndRtsLowAndCloseLowersDtr) {
    ASSERT_EQ(OrvOpenComm(kDevicePort, 0, nullptr, 0), 1);
    const auto afterOpen = shimLines();
    ASSERT_EQ(OrvCloseComm(), 1);
    const auto afterClose = shimLines();
    EXPECT_EQ(LastShimLine(afterOpen, "dtr="), "dtr=0 rts=0");
    ASSERT_GT(afterClose.size(), afterOpen.size());  // the close set DTR
    EXPECT_EQ(LastShimLine(afterClose, "dtr="), "dtr=0 rts=0");
}

TEST_F(OpenCloseTest, ASecondOpenClosesTheFirstLink) {
    ASSERT_EQ(OrvOpenComm(kDevicePort, 0, nullptr, 0), 1);
    ASSERT_EQ(OrvOpenComm(kHighDevicePort, 0, nullptr, 0), 1);
    uint16_t more = 9;
    uint32_t value = 0;
    const std::size_t mark = FrameCount(kHighDevicePort);
    ASSERT_EQ(OrvSendCommand(0x10, 0, 3, &more, &value, 500), 1);
    EXPECT_EQ(HostFrames(FramesSince(kHighDevicePort, mark), 'C').size(), 1u);
    EXPECT_TRUE(HostFrames(frames(), 'C').empty());  // nothing went to COM1
}

}  // namespace
}  // namespace orv::wintest
