// Block transfers against the device simulator: how buffers are cut into
// chunks on the wire, early stops, retries, and byte-for-byte round trips.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "device/block_transfer.h"
#include "support/device_fixture.h"

namespace orv {
namespace {

using sim::Fault;
using sim::FaultTarget;
using sim::FrameKind;

constexpr uint8_t kWrite = 0x21;
constexpr uint8_t kRead = 0x22;
constexpr uint32_t kRegion = 0x100;

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(n);
    std::mt19937 gen(seed);
    for (auto &b : bytes) b = static_cast<uint8_t>(gen());
    return bytes;
}

class TransferTest : public test::DeviceLinkTest {
protected:
    std::vector<sim::CommandFields> commandsFor(uint8_t command) const {
        std::vector<sim::CommandFields> out;
        for (const auto &c : device.commands())
            if (c.command == command) out.push_back(c);
        return out;
    }
};

struct CutCase {
    const char *name;
    uint32_t length;
    uint32_t chunkSize;
    std::vector<uint16_t> lengths;
};

class TransferCuts : public TransferTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(TransferCuts, WriteAnnouncesEachChunkAndReadBringsItBack) {
    const CutCase &c = GetParam();
    const auto data = Pattern(c.length);
    uint16_t more = 9;
    uint32_t value = 9;
    ASSERT_EQ(OrvWriteData(data.data(), c.length, kWrite, 3, kRegion, &more, &value, 500,
                           c.chunkSize),
              1);
    EXPECT_EQ(more, 1);
    EXPECT_EQ(value, c.length);  // bytes stored so far
    const auto written = commandsFor(kWrite);
    ASSERT_EQ(written.size(), c.lengths.size());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(written[i].blockIndex, i);
        EXPECT_EQ(written[i].blockLength, c.lengths[i]);
        EXPECT_EQ(written[i].argument, kRegion);
        EXPECT_EQ(written[i].modifier, 3);
    }
    EXPECT_EQ(device.region(kRegion), data);

    std::vector<uint8_t> back(c.length);
    ASSERT_EQ(OrvReadData(back.data(), c.length, kRead, 0, kRegion, &more, &value, 500,
                          c.chunkSize),
              1);
    EXPECT_EQ(back, data);
    EXPECT_EQ(commandsFor(kRead).size(), c.lengths.size());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, TransferCuts,
    ::testing::Values(CutCase{"ShorterThanAChunk", 40, 100, {40}},
                      CutCase{"ExactMultiple", 300, 100, {100, 100, 100}},
                      CutCase{"Remainder", 205, 100, {100, 100, 5}},
                      CutCase{"LargestChunk", 20006, 10003, {10003, 10003}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(TransferTest, ZeroLengthNeedsNoTrafficEvenWithoutALink) {
    ASSERT_EQ(OrvCloseComm(), 1);
    uint16_t more = 9;
    uint32_t value = 9;
    EXPECT_EQ(OrvWriteData(nullptr, 0, kWrite, 0, kRegion, &more, &value, 100, 100), 1);
    EXPECT_EQ(more, 1);
    EXPECT_EQ(value, 0u);
    more = 9;
    EXPECT_EQ(OrvReadData(nullptr, 0, kRead, 0, kRegion, &more, nullptr, 100, 100), 1);
    EXPECT_EQ(more, 1);
    EXPECT_EQ(device.counters().framesReceived, 0u);
}

TEST_F(TransferTest, MegabyteRoundTripsByteForByte) {
    const auto data = Pattern(1 << 20, 7);
    for (uint32_t chunk : {1024u, 10003u}) {
        uint16_t more = 0;
        uint32_t value = 0;
        ASSERT_EQ(OrvWriteData(data.data(), data.size(), kWrite, 0, kRegion, &more, &value, 1000,
                               chunk),
                  1);
        std::vector<uint8_t> back(data.size());
        ASSERT_EQ(OrvReadData(back.data(), back.size(), kRead, 0, kRegion, &more, &value, 1000,
                              chunk),
                  1);
        EXPECT_TRUE(back == data) << "chunk " << chunk;
    }
}

TEST_F(TransferTest, DeviceStopsAWriteEarly) {
    device.addFault(Fault::moreFlagZero().onCommand(kWrite).atBlockIndex(1));
    const auto data = Pattern(300);
    uint16_t more = 9;
    uint32_t value = 9;
    ASSERT_EQ(OrvWriteData(data.data(), 300, kWrite, 0, kRegion, &more, &value, 500, 100), 1);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(value, 200u);
    EXPECT_EQ(commandsFor(kWrite).size(), 2u);  // chunk 2 never announced
}

TEST_F(TransferTest, DeviceStopsAReadEarlyAndTheRestOfTheBufferIsLeftAlone) {
    device.setRegion(kRegion, Pattern(300));
    device.addFault(Fault::moreFlagZero().onCommand(kRead).atBlockIndex(1));
    std::vector<uint8_t> back(300, 0xEE);
    uint16_t more = 9;
    uint32_t value = 9;
    ASSERT_EQ(OrvReadData(back.data(), 300, kRead, 0, kRegion, &more, &value, 500, 100), 1);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(value, 300u);
    const auto expected = Pattern(300);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 100, expected.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + 100, back.end(), [](uint8_t b) { return b == 0xEE; }));
}

TEST_F(TransferTest, LastWriteChunkAnsweredWithClearFlagStillSucceeds) {
    device.addFault(Fault::moreFlagZero().onCommand(kWrite).atBlockIndex(2));
    const auto data = Pattern(205);
    uint16_t more = 9;
    ASSERT_EQ(OrvWriteData(data.data(), 205, kWrite, 0, kRegion, &more, nullptr, 500, 100), 1);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(device.region(kRegion), data);
}

TEST_F(TransferTest, BadReplyResendsTheSameBlockUnderTheSameIndex) {
    device.addFault(Fault::badChecksum(FaultTarget::Reply).onCommand(kWrite).atBlockIndex(1));
    const auto data = Pattern(300);
    uint16_t more = 9;
    ASSERT_EQ(OrvWriteData(data.data(), 300, kWrite, 0, kRegion, &more, nullptr, 300, 100), 1);
    const auto written = commandsFor(kWrite);
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(written[1].blockIndex, 1);
    EXPECT_EQ(written[2].blockIndex, 1);
    std::vector<uint16_t> blockChecksums;
    for (const auto &f : device.received())
        if (f.kind == FrameKind::DataBlock) blockChecksums.push_back(f.checksum);
    ASSERT_EQ(blockChecksums.size(), 4u);
    EXPECT_EQ(blockChecksums[1], blockChecksums[2]);
    EXPECT_EQ(device.region(kRegion), data);
}

TEST_F(TransferTest, ReadBlockFailingItsChecksumThreeTimesFailsAndLeavesOutputs) {
    device.setRegion(kRegion, Pattern(100));
    device.addFault(Fault::corruptBlock().onCommand(kRead).times(3));
    std::vector<uint8_t> back(100);
    uint16_t more = 9;
    uint32_t value = 9;
    EXPECT_EQ(OrvReadData(back.data(), 100, kRead, 0, kRegion, &more, &value, 300, 100), 0);
    EXPECT_EQ(more, 9);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(commandsFor(kRead).size(), 3u);
}

TEST_F(TransferTest, EveryChunkCarriesTheCallersArgument) {
    const auto data = Pattern(500);
    uint16_t more = 0;
    ASSERT_EQ(OrvWriteData(data.data(), 500, kWrite, 0, kRegion, &more, nullptr, 500, 100), 1);
    for (const auto &c : commandsFor(kWrite)) EXPECT_EQ(c.argument, kRegion);
}

TEST_F(TransferTest, ChunkNumbersPast65535GoOnTheWireModulo65536) {
    // The chunk loop counts in 32 bits (a unit test follows it past 65535); the
    // frame carries the low 16, so chunks 65536 and 65537 are announced as 0 and 1.
    const auto written = Pattern(4, 3);
    uint16_t more = 9;
    uint32_t value = 9;
    ASSERT_EQ(WriteChunk(written.data(), kWrite, 0, kRegion, 65536, 4, more, &value, 500), 1);
    const auto held = Pattern(8, 4);
    device.setRegion(kRegion + 1, held);
    std::vector<uint8_t> back(4);
    ASSERT_EQ(ReadChunk(back.data(), kRead, 0, kRegion + 1, 65537, 4, more, &value, 500), 1);
    const auto commands = device.commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].blockIndex, 0);
    EXPECT_EQ(commands[1].blockIndex, 1);
    EXPECT_EQ(device.region(kRegion), written);
    EXPECT_EQ(back, std::vector<uint8_t>(held.begin() + 4, held.end()));
}

TEST_F(TransferTest, UselessChunkSizesAndNullPointersAreRefusedBeforeAnyTraffic) {
    const auto data = Pattern(100);
    std::vector<uint8_t> back(100);
    uint16_t more = 9;
    EXPECT_EQ(OrvWriteData(data.data(), 100, kWrite, 0, kRegion, &more, nullptr, 100, 0), 0);
    EXPECT_EQ(OrvWriteData(data.data(), 100, kWrite, 0, kRegion, &more, nullptr, 100, 10004), 0);
    EXPECT_EQ(OrvReadData(back.data(), 100, kRead, 0, kRegion, &more, nullptr, 100, 0), 0);
    EXPECT_EQ(OrvWriteData(data.data(), 100, kWrite, 0, kRegion, nullptr, nullptr, 100, 10), 0);
    EXPECT_EQ(OrvReadData(nullptr, 100, kRead, 0, kRegion, &more, nullptr, 100, 10), 0);
    EXPECT_EQ(more, 9);
    EXPECT_EQ(device.counters().framesReceived, 0u);
}

}  // namespace
}  // namespace orv
