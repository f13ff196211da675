// Single commands and the wake-up burst against the device simulator: the
// bytes on the wire, the outputs, and the retry rule.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "link/link_state.h"
#include "platform/posix/test_seam.h"
#include "support/device_fixture.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultTarget;
using sim::FrameKind;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::vector<uint8_t>> CommandFramesSeen(const sim::DeviceSimulator &device) {
    std::vector<std::vector<uint8_t>> frames;
    for (const auto &f : device.received())
        if (f.kind == FrameKind::Command) frames.push_back(f.bytes);
    return frames;
}

class CommandTest : public test::DeviceLinkTest {};

TEST_F(CommandTest, SendCommandPutsTheExactFrameOnTheWireAndReturnsTheReply) {
    uint16_t more = 9;
    uint32_t value = 9;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 5, &more, &value, 500), 1);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(value, 5u);  // the simulator answers a single command with its argument
    const auto frames = CommandFramesSeen(device);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0x55, 0xAA, 0x10, 0x00, 0x05, 0x00, 0x00, 0x00,
                                               0xFF, 0xFF, 0x00, 0x00, 0x12, 0x03}));
}

TEST_F(CommandTest, HandshakeSendsBlockIndexZeroAndMayDropTheValue) {
    uint16_t more = 9;
    ASSERT_EQ(OrvHandshake(0x01, 0x02, 0x01020304, &more, nullptr), 1);
    EXPECT_EQ(more, 0);
    const auto commands = device.commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], (sim::CommandFields{0x01, 0x02, 0x01020304, 0, 0}));
}

TEST_F(CommandTest, RefusedAcknowledgementEndsTheHandshakeWithoutAReply) {
    device.addFault(Fault::ackStatus(0x04));
    uint16_t more = 9;
    uint32_t value = 9;
    EXPECT_EQ(OrvHandshake(0x01, 0, 0, &more, &value), 0);
    EXPECT_EQ(more, 9);
    EXPECT_EQ(value, 9u);
    // The device's reply never came, because the refused ack ended the exchange on
    // its side too; the next call works on a clean line.
    EXPECT_EQ(OrvHandshake(0x01, 0, 7, &more, &value), 1);
    EXPECT_EQ(value, 7u);
}

TEST_F(CommandTest, SilentDeviceGetsThreeFramesSpacedByTheAckWaitAndTheRepeatPause) {
    device.addFault(Fault::noAnswer(FaultTarget::Ack).times(sim::FaultSelector::kEvery));
    // Each repeat waits out the 3 s acknowledgement, then the reply time-out.
    uint16_t more = 9;
    uint32_t value = 9;
    const auto start = Clock::now();
    EXPECT_EQ(OrvSendCommand(0x10, 0, 5, &more, &value, 500), 0);
    const double took = SecondsSince(start);
    EXPECT_EQ(more, 9);
    EXPECT_EQ(value, 9u);
    const auto received = device.received();
    std::vector<Clock::time_point> at;
    for (const auto &f : received)
        if (f.kind == FrameKind::Command) at.push_back(f.at);
    ASSERT_EQ(at.size(), 3u);
    for (size_t i = 1; i < at.size(); ++i) {
        const double gap = std::chrono::duration<double>(at[i] - at[i - 1]).count();
        EXPECT_GE(gap, 3.5);
        EXPECT_LT(gap, 4.2);
    }
    EXPECT_GE(took, 10.0);
    EXPECT_LT(took, 11.5);
}

TEST_F(CommandTest, BadFirstReplyIsRetriedAndTheSecondReplyCounts) {
    device.addFault(Fault::badChecksum(FaultTarget::Reply));
    uint16_t more = 9;
    uint32_t value = 9;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 5, &more, &value, 200), 1);
    EXPECT_EQ(value, 5u);
    const auto frames = CommandFramesSeen(device);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_EQ(frames[1][8], 0xFF);
    EXPECT_EQ(frames[1][9], 0xFF);
}

TEST_F(CommandTest, FramesBeyondTheExpectedLengthAreDroppedBeforeTheRetry) {
    device.addFault(Fault::longFrame(FaultTarget::Ack, 2));
    device.addFault(Fault::shortFrame(FaultTarget::Reply, 9).onNthCommand(2));
    uint16_t more = 9;
    uint32_t value = 9;
    // The two extra bytes behind the ack become the start of the reply, which is
    // refused; the retry's purge drops the rest, and the second ack is good but
    // its reply is short; the third attempt succeeds.
    ASSERT_EQ(OrvSendCommand(0x10, 0, 77, &more, &value, 200), 1);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(CommandFramesSeen(device).size(), 3u);
}

TEST_F(CommandTest, LateAnswerToAFailedAttemptIsNeverTakenForTheNextCall) {
    // The device answers the first attempt's reply after the host gave up on it,
    // and is slow to acknowledge the frames that queued up behind: without a
    // settled line before each repeat it falls one exchange behind, and its
    // answer to the first call's last attempt would be read as the next call's.
    constexpr uint32_t kReplyTimeoutMs = 100;
    device.addFault(Fault::lateAnswer(FaultTarget::Reply, 150ms).onNthCommand(1));
    device.addFault(Fault::lateAnswer(FaultTarget::Ack, 50ms).onNthCommand(2));
    device.addFault(Fault::lateAnswer(FaultTarget::Ack, 100ms).onNthCommand(3));
    uint16_t more = 9;
    uint32_t value = 0;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 0x111, &more, &value, kReplyTimeoutMs), 1);
    EXPECT_EQ(value, 0x111u);
    value = 0;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 0x222, &more, &value, kReplyTimeoutMs), 1);
    EXPECT_EQ(value, 0x222u);
    EXPECT_EQ(more, 0);
}

TEST_F(CommandTest, CommandFrameThatCannotBeWrittenEndsTheCallAtOnce) {
    win::seam::Faults faults;
    faults.writeCap = 13;
    win::seam::Inject(faults);
    uint16_t more = 9;
    const auto start = Clock::now();
    EXPECT_EQ(OrvSendCommand(0x10, 0, 5, &more, nullptr, 500), 0);
    EXPECT_LT(SecondsSince(start), 1.0);  // no acknowledgement wait, no second attempt
    win::seam::Reset();
    EXPECT_EQ(device.counters().commandFrames, 0u);
    EXPECT_EQ(more, 9);
}

TEST_F(CommandTest, CallsWithoutAnOpenLinkFailAndSendNothing) {
    ASSERT_EQ(OrvCloseComm(), 1);
    uint16_t more = 9;
    EXPECT_EQ(OrvSendCommand(0x10, 0, 5, &more, nullptr, 100), 0);
    EXPECT_EQ(OrvHandshake(0x10, 0, 5, &more, nullptr), 0);
    EXPECT_EQ(OrvDevicePowerON(), 1);
    EXPECT_EQ(more, 9);
    EXPECT_EQ(device.counters().framesReceived, 0u);
}

TEST_F(CommandTest, NullMoreFlagIsRefusedBeforeAnyTraffic) {
    uint32_t value = 9;
    EXPECT_EQ(OrvSendCommand(0x10, 0, 5, nullptr, &value, 100), 0);
    EXPECT_EQ(OrvHandshake(0x10, 0, 5, nullptr, &value), 0);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(device.counters().framesReceived, 0u);
}

struct BurstCase {
    const char *entry;
    uint64_t frames;
};

class WakeUpTest : public test::DeviceLinkTest,
                   public ::testing::WithParamInterface<BurstCase> {
protected:
    std::string lineSettings() const override { return GetParam().entry; }
};

TEST_P(WakeUpTest, BurstSizeFollowsTheLineSpeed) {
    ASSERT_EQ(OrvDevicePowerON(), 1);
    ASSERT_TRUE(device.waitForWakeUps(GetParam().frames, 5s));
    // A command after the burst shows that nothing more of it is still coming.
    uint16_t more = 0;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 1, &more, nullptr, 500), 1);
    const auto counters = device.counters();
    EXPECT_EQ(counters.wakeUpFrames, GetParam().frames);
    EXPECT_EQ(counters.wakeUpBursts, 1u);
}

INSTANTIATE_TEST_SUITE_P(Speeds, WakeUpTest,
                         ::testing::Values(BurstCase{"1200,n,8,1", 10}, BurstCase{"2400,n,8,1", 10},
                                           BurstCase{"4800,n,8,1", 15}, BurstCase{"9600,n,8,1", 20},
                                           BurstCase{"19200,n,8,1", 20},
                                           BurstCase{"38400,n,8,1", 20}));

}  // namespace
}  // namespace orv
