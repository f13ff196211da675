// The port I/O primitives: time-outs from the line speed, transfers that end
// with what moved, and a transmit-empty wait that always ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "link/link_state.h"
#include "link/port_io.h"
#include "orvlink.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kPort = 5;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class PortIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.mapPort(kPort, line.slavePath());
        ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    }
    void TearDown() override { OrvCloseComm(); }

    sim::SimLine line;
    test::TestEnv env;
};

TEST(SetLinkTimeouts, FailsWithoutAnOpenLink) {
    linkState.portHandle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(SetLinkTimeouts(100), 0);
}

TEST_F(PortIoTest, TimeoutsFollowTheConstantAndTheSpeed) {
    linkState.baudRate = 0;
    ASSERT_EQ(SetLinkTimeouts(100), 1);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(linkState.portHandle, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u);

    linkState.baudRate = 1200;
    ASSERT_EQ(SetLinkTimeouts(3000), 1);
    ASSERT_TRUE(GetCommTimeouts(linkState.portHandle, &t));
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 16u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 3000u);
}

TEST_F(PortIoTest, ZeroConstantAtTopSpeedStillBoundsTheRead) {
    linkState.baudRate = 38400;
    ASSERT_EQ(SetLinkTimeouts(0), 1);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(linkState.portHandle, &t));
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1u);
    uint8_t buf[10];
    const auto start = Clock::now();
    EXPECT_EQ(ReadAndComplete(linkState.frameReadIo, buf, sizeof buf), 0u);
    EXPECT_LT(MsSince(start), 500.0);
}

TEST_F(PortIoTest, ShortReadEndsAtItsTotalTimeoutWithWhatArrived) {
    struct Case {
        uint32_t baud;
        uint32_t constantMs;
    } cases[] = {{38400, 300}, {9600, 300}, {1200, 300}};
    for (const Case &c : cases) {
        linkState.baudRate = c.baud;
        ASSERT_EQ(SetLinkTimeouts(c.constantMs), 1);
        const double bound = ReadMultiplierFor(c.baud) * 6.0 + c.constantMs;
        const uint8_t four[4] = {1, 2, 3, 4};
        ASSERT_TRUE(line.writeAll(four));
        uint8_t buf[6] = {};
        const auto start = Clock::now();
        const DWORD count = ReadAndComplete(linkState.frameReadIo, buf, 6);
        const double took = MsSince(start);
        EXPECT_EQ(count, 4u) << c.baud;
        EXPECT_EQ(buf[3], 4);
        EXPECT_GE(took, bound - 1.0) << c.baud;
        EXPECT_LT(took, bound + 150.0) << c.baud;
        std::printf("read of 6 with 4 at %u bit/s: bound %.0f ms, took %.1f ms\n", c.baud, bound,
                    took);
    }
}

TEST_F(PortIoTest, CompleteWriteReturnsItsCountAndDrains) {
    ASSERT_EQ(SetLinkTimeouts(1000), 1);
    const uint8_t bytes[14] = {0x55, 0xAA, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(WriteAndComplete(linkState.frameWriteIo, bytes, sizeof bytes), 14u);
    const auto start = Clock::now();
    WaitTransmitEmpty();
    EXPECT_LT(MsSince(start), 1000.0);
    uint8_t got[14] = {};
    EXPECT_EQ(line.readExact(got, Clock::now() + milliseconds(2000)), 14u);
    EXPECT_EQ(0, memcmp(got, bytes, sizeof bytes));
}

TEST_F(PortIoTest, ReceivedCharacterDoesNotEndTheTransmitEmptyWait) {
    SetCommMask(linkState.portHandle, 0x1FF);
    ASSERT_EQ(SetLinkTimeouts(1000), 1);
    const uint8_t byte = 0x42;
    ASSERT_TRUE(line.writeAll({&byte, 1}));
    EXPECT_EQ(WriteAndComplete(linkState.frameWriteIo, &byte, 1), 1u);
    WaitTransmitEmpty();  // ends on the transmit-empty report, not on the received byte
    uint8_t got = 0;
    EXPECT_EQ(ReadAndComplete(linkState.frameReadIo, &got, 1), 1u);
    EXPECT_EQ(got, byte);
}

TEST_F(PortIoTest, TransmitEmptyWaitEndsWhenTheDeviceHasGone) {
    line.hangUp();
    const uint8_t byte = 0x42;
    const auto start = Clock::now();
    WriteAndComplete(linkState.frameWriteIo, &byte, 1);
    WaitTransmitEmpty();
    EXPECT_LT(MsSince(start), 2000.0);
    uint8_t buf[6];
    SetLinkTimeouts(100);
    EXPECT_LT(ReadAndComplete(linkState.frameReadIo, buf, 6), 6u);
}

}  // namespace
}  // namespace orv
