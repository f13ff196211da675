// The device vanishing mid-transfer: the simulator closes its end of the
// pseudo-terminal after a chosen frame of chunk 2 (or halfway through its
// data block). The transfer ends with 0 within one reply time-out of the
// hang-up, the caller's outputs untouched; the link closes, and an open on a
// new pseudo-terminal then carries a whole transfer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "orvlink.h"
#include "sim/device_sim.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using sim::Clock;
using sim::Fault;
using sim::FaultTarget;

constexpr int kPort = 5;
constexpr uint32_t kReplyTimeoutMs = 400;
constexpr uint32_t kChunk = 1000;
constexpr uint32_t kLength = 6 * kChunk;
constexpr uint16_t kLastGoodChunk = 1;
// The simulator waits up to 1 s for the host to take what it sent before it
// hangs up; the host then has one read time-out, and the machine is shared.
constexpr auto kVanishBound = 1000ms + std::chrono::milliseconds(kReplyTimeoutMs) + 600ms;

enum class Direction { Write, Read };

struct VanishCase {
    const char *name;
    Direction direction;
    FaultTarget after;
};

// Test names and messages show the case by its name.
void PrintTo(const VanishCase &c, std::ostream *os) { *os << c.name; }

std::vector<uint8_t> Pattern(uint32_t length, uint8_t seed) {
    std::vector<uint8_t> data(length);
    for (uint32_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(i * 31 + seed);
    return data;
}

int32_t Transfer(Direction direction, std::vector<uint8_t> &data, uint32_t argument,
                 uint16_t &more, uint32_t &value) {
    const auto length = static_cast<uint32_t>(data.size());
    if (direction == Direction::Write)
        return OrvWriteData(data.data(), length, 0x21, 0, argument, &more, &value,
                            kReplyTimeoutMs, kChunk);
    return OrvReadData(data.data(), length, 0x22, 0, argument, &more, &value, kReplyTimeoutMs,
                       kChunk);
}

class DeviceVanishes : public ::testing::TestWithParam<VanishCase> {
protected:
    void SetUp() override {
        env.mapPort(kPort, firstLine.slavePath());
        firstDevice.setRegion(7, Pattern(kLength, 1));
        firstDevice.start(firstLine);
        ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    }
    void TearDown() override {
        OrvCloseComm();
        firstDevice.stop();
    }

    test::TestEnv env;
    sim::SimLine firstLine;
    sim::DeviceSimulator firstDevice;
};

TEST_P(DeviceVanishes, TheTransferFailsWithinItsTimeoutAndANewLineWorks) {
    const VanishCase &c = GetParam();
    firstDevice.addFault(Fault::hangUp(c.after).atBlockIndex(kLastGoodChunk + 1));

    std::vector<uint8_t> data =
        c.direction == Direction::Write ? Pattern(kLength, 2) : std::vector<uint8_t>(kLength, 0);
    uint16_t more = 0xBEEF;
    uint32_t value = 0xDEADBEEF;
    const auto start = Clock::now();
    EXPECT_EQ(Transfer(c.direction, data, 7, more, value), 0);
    const auto took = Clock::now() - start;
    EXPECT_LT(took, kVanishBound);
    EXPECT_EQ(more, 0xBEEF);
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_TRUE(firstDevice.waitForServing(false, 2s));  // it did hang up
    if (c.direction == Direction::Read) {
        // The chunks before the hang-up arrived whole; the later ones were never written.
        const auto expected = Pattern(kLength, 1);
        const auto goodBytes = static_cast<std::ptrdiff_t>((kLastGoodChunk + 1) * kChunk);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + goodBytes, expected.begin()));
        EXPECT_TRUE(std::all_of(data.begin() + goodBytes + kChunk, data.end(),
                                [](uint8_t b) { return b == 0; }));
    }

    // Closing the dead link ends it, whatever the release reports.
    OrvCloseComm();
    EXPECT_EQ(OrvCloseComm(), 1);

    sim::SimLine secondLine;
    sim::DeviceSimulator secondDevice;
    secondDevice.setRegion(7, Pattern(kLength, 3));
    secondDevice.start(secondLine);
    env.mapPort(kPort, secondLine.slavePath());
    ASSERT_EQ(OrvOpenComm(kPort, 0, nullptr, 0), 1);
    std::vector<uint8_t> again =
        c.direction == Direction::Write ? Pattern(kLength, 4) : std::vector<uint8_t>(kLength, 0);
    ASSERT_EQ(Transfer(c.direction, again, 7, more, value), 1);
    EXPECT_EQ(more, 1);
    EXPECT_EQ(value, kLength);
    EXPECT_EQ(c.direction == Direction::Write ? secondDevice.region(7) : again,
              c.direction == Direction::Write ? Pattern(kLength, 4) : Pattern(kLength, 3));
    EXPECT_EQ(OrvCloseComm(), 1);
    secondDevice.stop();
    std::printf("%s: 0 after %lld ms\n", c.name,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

INSTANTIATE_TEST_SUITE_P(
    HangUps, DeviceVanishes,
    ::testing::Values(VanishCase{"WriteAfterTheAck", Direction::Write, FaultTarget::Ack},
                      VanishCase{"WriteHalfwayThroughTheBlock", Direction::Write, FaultTarget::Block},
                      VanishCase{"WriteAfterTheReply", Direction::Write, FaultTarget::Reply},
                      VanishCase{"ReadAfterTheAck", Direction::Read, FaultTarget::Ack},
                      VanishCase{"ReadAfterTheReply", Direction::Read, FaultTarget::Reply},
                      VanishCase{"ReadHalfwayThroughTheBlock", Direction::Read, FaultTarget::Block}),
    [](const ::testing::TestParamInfo<VanishCase> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orv
