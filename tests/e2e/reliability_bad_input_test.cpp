// Bad input at every export: each call gets its result before any traffic,
// writes none of the caller's areas it must not, and leaves the link as it
// was. With the link open, a marker command sent after the call must be the
// first frame the device ever saw; with the link closed, the calls return at
// once and the device sees nothing.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "support/device_fixture.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kMoreSentinel = 0xBEEF;
constexpr uint32_t kValueSentinel = 0xDEADBEEF;
constexpr uint8_t kBufferSentinel = 0x5C;
constexpr uint32_t kHugeLength = 0xFFFFFFFFu;
constexpr uint8_t kWrite = 0x21;
constexpr uint8_t kRead = 0x22;

// The caller's areas, filled with values no call may produce.
struct CallerAreas {
    uint16_t more = kMoreSentinel;
    uint32_t value = kValueSentinel;
    std::array<uint8_t, 64> buffer{};
    CallerAreas() { buffer.fill(kBufferSentinel); }
    bool bufferUntouched() const {
        for (uint8_t b : buffer)
            if (b != kBufferSentinel) return false;
        return true;
    }
};

// What a call may leave in the outputs: nothing, or the empty transfer's
// moreFlag 1 and value 0.
enum class Outputs { Untouched, EmptyTransfer };

struct BadCall {
    const char *name;
    std::function<int32_t(CallerAreas &)> call;
    int32_t result;
    Outputs outputs = Outputs::Untouched;
};

// Test names and messages show the case by its name.
void PrintTo(const BadCall &c, std::ostream *os) { *os << c.name; }

// The port that the fixture maps to the simulator.
struct FixturePort : test::DeviceLinkTest {
    using DeviceLinkTest::kPort;
};

const std::string kPhone60(60, '5');
const std::string kPhone61(61, '5');

std::vector<BadCall> OpenLinkCases() {
    return {
        {"HandshakeWithoutMoreFlag",
         [](CallerAreas &a) { return OrvHandshake(1, 0, 7, nullptr, &a.value); }, 0},
        {"SendCommandWithoutMoreFlag",
         [](CallerAreas &a) { return OrvSendCommand(1, 0, 7, nullptr, &a.value, 500); }, 0},
        {"WriteFromNullBuffer",
         [](CallerAreas &a) { return OrvWriteData(nullptr, 16, kWrite, 0, 1, &a.more, &a.value, 500, 8); }, 0},
        {"WriteHugeLengthFromNullBuffer",
         [](CallerAreas &a) { return OrvWriteData(nullptr, kHugeLength, kWrite, 0, 1, &a.more, &a.value, 500, 8); }, 0},
        {"WriteWithoutMoreFlag",
         [](CallerAreas &a) { return OrvWriteData(a.buffer.data(), 16, kWrite, 0, 1, nullptr, &a.value, 500, 8); }, 0},
        {"WriteChunkSizeZero",
         [](CallerAreas &a) { return OrvWriteData(a.buffer.data(), 16, kWrite, 0, 1, &a.more, &a.value, 500, 0); }, 0},
        {"WriteChunkSizeAboveTheBlock",
         [](CallerAreas &a) { return OrvWriteData(a.buffer.data(), 16, kWrite, 0, 1, &a.more, &a.value, 500, 10004); }, 0},
        {"WriteChunkSizeHuge",
         [](CallerAreas &a) { return OrvWriteData(a.buffer.data(), 16, kWrite, 0, 1, &a.more, &a.value, 500, 0xFFFFFFFFu); }, 0},
        {"WriteZeroLength",
         [](CallerAreas &a) { return OrvWriteData(a.buffer.data(), 0, kWrite, 0, 1, &a.more, &a.value, 500, 8); },
         1, Outputs::EmptyTransfer},
        {"WriteZeroLengthFromNullBufferChunkSizeZero",
         [](CallerAreas &a) { return OrvWriteData(nullptr, 0, kWrite, 0, 1, &a.more, &a.value, 500, 0); },
         1, Outputs::EmptyTransfer},
        {"ReadIntoNullBuffer",
         [](CallerAreas &a) { return OrvReadData(nullptr, 16, kRead, 0, 1, &a.more, &a.value, 500, 8); }, 0},
        {"ReadHugeLengthIntoNullBuffer",
         [](CallerAreas &a) { return OrvReadData(nullptr, kHugeLength, kRead, 0, 1, &a.more, &a.value, 500, 8); }, 0},
        {"ReadWithoutMoreFlag",
         [](CallerAreas &a) { return OrvReadData(a.buffer.data(), 16, kRead, 0, 1, nullptr, &a.value, 500, 8); }, 0},
        {"ReadZeroLengthWithoutMoreFlag",
         [](CallerAreas &a) { return OrvReadData(a.buffer.data(), 0, kRead, 0, 1, nullptr, &a.value, 500, 8); }, 0},
        {"ReadChunkSizeZero",
         [](CallerAreas &a) { return OrvReadData(a.buffer.data(), 16, kRead, 0, 1, &a.more, &a.value, 500, 0); }, 0},
        {"ReadChunkSizeAboveTheBlock",
         [](CallerAreas &a) { return OrvReadData(a.buffer.data(), 16, kRead, 0, 1, &a.more, &a.value, 500, 10004); }, 0},
        {"ReadZeroLength",
         [](CallerAreas &a) { return OrvReadData(a.buffer.data(), 0, kRead, 0, 1, &a.more, &a.value, 500, 8); },
         1, Outputs::EmptyTransfer},
        {"OpenPortZero", [](CallerAreas &) { return OrvOpenComm(0, 0, nullptr, 0); }, 0},
        {"OpenPortMinusOne", [](CallerAreas &) { return OrvOpenComm(-1, 0, nullptr, 0); }, 0},
        {"OpenPort1000", [](CallerAreas &) { return OrvOpenComm(1000, 0, nullptr, 0); }, 0},
        {"OpenLowestPortNumber", [](CallerAreas &) { return OrvOpenComm(INT32_MIN, 0, nullptr, 0); }, 0},
        {"OpenHighestPortNumber", [](CallerAreas &) { return OrvOpenComm(INT32_MAX, 0, nullptr, 0); }, 0},
        {"OpenModemWithEmptyPhone",
         [](CallerAreas &) { return OrvOpenComm(FixturePort::kPort, 1, "", 10); }, 0},
        {"OpenModemWithNullPhone",
         [](CallerAreas &) { return OrvOpenComm(FixturePort::kPort, 1, nullptr, 10); }, 0},
        {"OpenModemWith61CharacterPhone",
         [](CallerAreas &) { return OrvOpenComm(FixturePort::kPort, 1, kPhone61.c_str(), 10); }, 0},
        {"OpenModemBadPortAnd60CharacterPhone",
         [](CallerAreas &) { return OrvOpenComm(1000, 1, kPhone60.c_str(), 10); }, 0},
    };
}

// Good arguments, no link.
std::vector<BadCall> ClosedLinkCases() {
    return {
        {"Handshake", [](CallerAreas &a) { return OrvHandshake(1, 0, 7, &a.more, &a.value); }, 0},
        {"SendCommand", [](CallerAreas &a) { return OrvSendCommand(1, 0, 7, &a.more, &a.value, 500); }, 0},
        {"Write",
         [](CallerAreas &a) { return OrvWriteData(a.buffer.data(), 16, kWrite, 0, 1, &a.more, &a.value, 500, 8); }, 0},
        {"Read",
         [](CallerAreas &a) { return OrvReadData(a.buffer.data(), 16, kRead, 0, 1, &a.more, &a.value, 500, 8); }, 0},
        {"WriteZeroLength",
         [](CallerAreas &a) { return OrvWriteData(a.buffer.data(), 0, kWrite, 0, 1, &a.more, &a.value, 500, 8); },
         1, Outputs::EmptyTransfer},
        {"ReadZeroLength",
         [](CallerAreas &a) { return OrvReadData(a.buffer.data(), 0, kRead, 0, 1, &a.more, &a.value, 500, 8); },
         1, Outputs::EmptyTransfer},
        {"ReadChunkSizeZero",
         [](CallerAreas &a) { return OrvReadData(a.buffer.data(), 16, kRead, 0, 1, &a.more, &a.value, 500, 0); }, 0},
        {"PowerOn", [](CallerAreas &) { return OrvDevicePowerON(); }, 1},
        {"Close", [](CallerAreas &) { return OrvCloseComm(); }, 1},
        {"OpenPortZero", [](CallerAreas &) { return OrvOpenComm(0, 0, nullptr, 0); }, 0},
        {"OpenModemWithEmptyPhone",
         [](CallerAreas &) { return OrvOpenComm(FixturePort::kPort, 1, "", 10); }, 0},
    };
}

void ExpectOutputs(const CallerAreas &areas, Outputs outputs) {
    EXPECT_TRUE(areas.bufferUntouched());
    if (outputs == Outputs::EmptyTransfer) {
        EXPECT_EQ(areas.more, 1);
        EXPECT_EQ(areas.value, 0u);
    } else {
        EXPECT_EQ(areas.more, kMoreSentinel);
        EXPECT_EQ(areas.value, kValueSentinel);
    }
}

std::string CaseName(const ::testing::TestParamInfo<BadCall> &info) { return info.param.name; }

class BadInputOnAnOpenLink : public test::DeviceLinkTest,
                             public ::testing::WithParamInterface<BadCall> {};

TEST_P(BadInputOnAnOpenLink, IsAnsweredBeforeAnyTrafficAndLeavesTheLinkOpen) {
    CallerAreas areas;
    EXPECT_EQ(GetParam().call(areas), GetParam().result);
    ExpectOutputs(areas, GetParam().outputs);

    // The link still works, and the marker is the first frame of all.
    uint16_t more = 0;
    uint32_t value = 0;
    ASSERT_EQ(OrvSendCommand(0x30, 0, 0x600DF00D, &more, &value, 500), 1);
    EXPECT_EQ(value, 0x600DF00Du);
    const auto commands = device.commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].argument, 0x600DF00Du);
    const auto counters = device.counters();
    EXPECT_EQ(counters.framesReceived, 1u);
    EXPECT_EQ(counters.skippedBytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Exports, BadInputOnAnOpenLink, ::testing::ValuesIn(OpenLinkCases()),
                         CaseName);

class CallWithoutALink : public test::DeviceLinkTest,
                         public ::testing::WithParamInterface<BadCall> {};

TEST_P(CallWithoutALink, ReturnsAtOnceAndSendsNothing) {
    ASSERT_EQ(OrvCloseComm(), 1);
    CallerAreas areas;
    const auto start = Clock::now();
    EXPECT_EQ(GetParam().call(areas), GetParam().result);
    // No device wait was begun: the shortest is 50 ms, the usual 3 s.
    EXPECT_LT(Clock::now() - start, 50ms);
    ExpectOutputs(areas, GetParam().outputs);
    EXPECT_FALSE(device.waitFor([](const sim::DeviceCounters &c) { return c.framesReceived > 0; },
                                200ms));
    EXPECT_EQ(device.counters().skippedBytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Exports, CallWithoutALink, ::testing::ValuesIn(ClosedLinkCases()),
                         CaseName);

// The bounds themselves pass: the largest chunk, and ports 1 and 999.
class BoundaryInput : public test::DeviceLinkTest {};

TEST_F(BoundaryInput, TheLargestChunkGoesThroughWhole) {
    std::vector<uint8_t> data(10003);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    uint16_t more = 0;
    uint32_t value = 0;
    ASSERT_EQ(OrvWriteData(data.data(), 10003, kWrite, 0, 9, &more, &value, 2000, 10003), 1);
    EXPECT_EQ(device.region(9), data);
    std::vector<uint8_t> back(10003, 0);
    ASSERT_EQ(OrvReadData(back.data(), 10003, kRead, 0, 9, &more, &value, 2000, 10003), 1);
    EXPECT_EQ(back, data);
}

TEST_F(BoundaryInput, PortsOneAndNineHundredNinetyNineAreTried) {
    for (int port : {1, 999}) {
        SCOPED_TRACE(port);
        env.mapPort(port, line.slavePath());
        ASSERT_EQ(OrvOpenComm(port, 0, nullptr, 0), 1);
        uint16_t more = 0;
        uint32_t value = 0;
        EXPECT_EQ(OrvSendCommand(0x31, 0, static_cast<uint32_t>(port), &more, &value, 500), 1);
        EXPECT_EQ(value, static_cast<uint32_t>(port));
    }
}

}  // namespace
}  // namespace orv
