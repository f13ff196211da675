// Single commands and the wake-up burst through orvlink.dll: the exact frames
// on the wire, the outputs, the retry rule and the time-outs.
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "protocol/frame_format.h"
#include "support/link_fixtures.h"

namespace orv::wintest {
namespace {

std::vector<uint8_t> Bytes(const auto &frame) { return {frame.begin(), frame.end()}; }

class CommandTest : public DeviceLinkTest {
protected:
    void SetUp() override {
        DeviceLinkTest::SetUp();
        ASSERT_EQ(OrvOpenComm(kDevicePort, 0, nullptr, 0), 1);
    }
};

TEST_F(CommandTest, SendCommandPutsTheExactFramesOnTheWireAndReturnsTheReply) {
    uint16_t more = 9;
    uint32_t value = 9;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 5, &more, &value, 500), 1);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(value, 5u);  // the simulator answers a single command with its argument
    const auto seen = frames();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].kind, 'C');
    EXPECT_EQ(seen[0].bytes, (std::vector<uint8_t>{0x55, 0xAA, 0x10, 0x00, 0x05, 0x00, 0x00, 0x00,
                                                   0xFF, 0xFF, 0x00, 0x00, 0x12, 0x03}));
    EXPECT_EQ(seen[1].bytes, Bytes(EncodeAckFrame(0x10, kAckStatusOk)));
    EXPECT_EQ(seen[2].bytes, Bytes(EncodeReplyFrame(0x10, 0, 5)));
}

TEST_F(CommandTest, HandshakeSendsBlockIndexZeroAndOneAttemptOnly) {
    uint16_t more = 9;
    ASSERT_EQ(OrvHandshake(0x01, 0x02, 0x01020304, &more, nullptr), 1);
    EXPECT_EQ(HostFrames(frames(), 'C'),
              std::vector<std::vector<uint8_t>>{Bytes(EncodeCommandFrame(0x01, 0x02, 0x01020304, 0, 0))});

    const std::size_t mark = FrameCount(kDevicePort);
    fault("ackstatus ack status=4");
    uint32_t value = 9;
    EXPECT_EQ(OrvHandshake(0x01, 0, 7, &more, &value), 0);
    EXPECT_EQ(value, 9u);  // outputs only on success
    EXPECT_EQ(HostFrames(FramesSince(kDevicePort, mark), 'C').size(), 1u);
}

TEST_F(CommandTest, AMissingReplyIsRetriedAndTheSecondAttemptCounts) {
    fault("noanswer reply");
    uint16_t more = 9;
    uint32_t value = 0;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 6, &more, &value, 200), 1);
    EXPECT_EQ(value, 6u);
    const auto commands = HostFrames(frames(), 'C');
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], commands[1]);
}

TEST_F(CommandTest, ThreeMissingRepliesFailAfterThreeReplyTimeouts) {
    fault("noanswer reply times=3");
    uint16_t more = 9;
    uint32_t value = 9;
    const auto start = Clock::now();
    EXPECT_EQ(OrvSendCommand(0x10, 0, 6, &more, &value, 300), 0);
    const double elapsed = MsSince(start);
    EXPECT_EQ(more, 9);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(HostFrames(frames(), 'C').size(), 3u);
    // Each reply wait: 300 ms and 2 ms a byte for its 10 bytes at 9600 bit/s;
    // before each repeat, a pause of the reply time-out.
    constexpr double kLeast = 3 * 320.0 + 2 * 300.0;
    EXPECT_GE(elapsed, kLeast);
    EXPECT_LE(elapsed, kLeast * 1.5 + 150);
}

TEST_F(CommandTest, AReplyWithABadChecksumIsRetried) {
    fault("badchecksum reply");
    uint16_t more = 9;
    uint32_t value = 0;
    ASSERT_EQ(OrvSendCommand(0x11, 0, 8, &more, &value, 300), 1);
    EXPECT_EQ(value, 8u);
    EXPECT_EQ(HostFrames(frames(), 'C').size(), 2u);
}

TEST_F(CommandTest, CallsAfterCloseFailAndSendNothing) {
    ASSERT_EQ(OrvCloseComm(), 1);
    uint16_t more = 9;
    EXPECT_EQ(OrvSendCommand(0x10, 0, 1, &more, nullptr, 100), 0);
    EXPECT_EQ(OrvHandshake(0x10, 0, 1, &more, nullptr), 0);
    EXPECT_TRUE(frames().empty());
}

struct BurstCase {
    const char *entry;
    uint64_t frames;
};

std::ostream &operator<<(std::ostream &out, const BurstCase &c) { return out << c.entry; }

class WakeUpTest : public DeviceLinkTest, public ::testing::WithParamInterface<BurstCase> {};

TEST_P(WakeUpTest, BurstOfExactWakeUpFramesFollowsTheLineSpeed) {
    PortsEntry entry(kDevicePort, GetParam().entry);
    ASSERT_EQ(OrvOpenComm(kDevicePort, 0, nullptr, 0), 1);
    ASSERT_EQ(OrvDevicePowerON(), 1);
    // Under Wine a write is complete once its bytes are in the pty, and the
    // next command's transmit purge would discard what the device has not
    // read yet; so the burst is awaited on the device's side first.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (HostFrames(frames(), 'W').size() < GetParam().frames && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // A command after the burst shows that nothing more of it is still coming.
    uint16_t more = 0;
    ASSERT_EQ(OrvSendCommand(0x10, 0, 1, &more, nullptr, 500), 1);
    const auto wakeUps = HostFrames(frames(), 'W');
    EXPECT_EQ(wakeUps.size(), GetParam().frames);
    for (const auto &bytes : wakeUps) EXPECT_EQ(bytes, Bytes(WakeUpFrame));
}

INSTANTIATE_TEST_SUITE_P(Speeds, WakeUpTest,
                         ::testing::Values(BurstCase{"1200,n,8,1", 10}, BurstCase{"2400,n,8,1", 10},
                                           BurstCase{"4800,n,8,1", 15}, BurstCase{"9600,n,8,1", 20},
                                           BurstCase{"38400,n,8,1", 20}));

}  // namespace
}  // namespace orv::wintest
