// Block transfers through orvlink.dll: a buffer out to the device's store and
// back again, byte for byte, in chunks of every size class.
#include <numeric>
#include <random>
#include <vector>

#include "protocol/frame_format.h"
#include "support/link_fixtures.h"

namespace orv::wintest {
namespace {

struct TransferCase {
    uint32_t length;
    uint32_t chunkSize;
};

std::ostream &operator<<(std::ostream &out, const TransferCase &c) {
    return out << c.length << " bytes in chunks of " << c.chunkSize;
}

std::vector<uint8_t> Pattern(uint32_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    std::mt19937 random(seed);
    for (uint8_t &b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

class TransferTest : public DeviceLinkTest, public ::testing::WithParamInterface<TransferCase> {
protected:
    void SetUp() override {
        DeviceLinkTest::SetUp();
        ASSERT_EQ(OrvOpenComm(kDevicePort, 0, nullptr, 0), 1);
    }
    static constexpr uint32_t kRegion = 4;
};

TEST_P(TransferTest, WriteThenReadRoundTripsByteForByte) {
    const auto [length, chunkSize] = GetParam();
    const std::vector<uint8_t> out = Pattern(length, length ^ chunkSize);
    uint16_t more = 9;
    uint32_t value = 0;
    ASSERT_EQ(OrvWriteData(out.data(), length, 0x21, 0, kRegion, &more, &value, 2000, chunkSize), 1);
    EXPECT_EQ(Region(kDevicePort, kRegion), out);

    const uint32_t chunks = (length + chunkSize - 1) / chunkSize;
    const auto blocks = HostFrames(frames(), 'B');
    ASSERT_EQ(blocks.size(), chunks);
    std::vector<uint8_t> first(std::min(length, chunkSize) + kDataBlockOverhead);
    EncodeDataBlock(0x21, std::span(out).first(first.size() - kDataBlockOverhead), first);
    EXPECT_EQ(blocks[0], first);

    std::vector<uint8_t> in(length, 0xEE);
    ASSERT_EQ(OrvReadData(in.data(), length, 0x22, 0, kRegion, &more, &value, 2000, chunkSize), 1);
    EXPECT_EQ(in, out);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TransferTest,
                         ::testing::Values(TransferCase{1, 1}, TransferCase{3000, 1024},
                                           TransferCase{10003, 10003}, TransferCase{25000, 4096}));

class TransferFaultTest : public TransferTest {};

TEST_F(TransferFaultTest, ACorruptedBlockFromTheDeviceIsFetchedAgain) {
    const std::vector<uint8_t> stored = Pattern(2048, 7);
    SetRegion(kDevicePort, kRegion, stored);
    fault("corruptblock block");
    std::vector<uint8_t> in(stored.size());
    uint16_t more = 9;
    uint32_t value = 0;
    ASSERT_EQ(OrvReadData(in.data(), static_cast<uint32_t>(in.size()), 0x22, 0, kRegion, &more, &value,
                          1000, 1024),
              1);
    EXPECT_EQ(in, stored);
    EXPECT_EQ(HostFrames(frames(), 'C').size(), 3u);  // chunk 0 twice, then chunk 1
}

TEST_F(TransferFaultTest, ABlockTheDeviceNeverAcknowledgesFailsTheWriteAfterThreeAttempts) {
    fault("noanswer reply cmd=0x21 times=3");
    const std::vector<uint8_t> out = Pattern(100, 3);
    uint16_t more = 9;
    uint32_t value = 9;
    EXPECT_EQ(OrvWriteData(out.data(), 100, 0x21, 0, kRegion, &more, &value, 200, 100), 0);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(HostFrames(frames(), 'C').size(), 3u);
}

}  // namespace
}  // namespace orv::wintest
