// The device frames byte by byte: encoding, checksum and the host's acceptance rules.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/frame_format.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

template <std::size_t N>
Bytes ToBytes(const std::array<uint8_t, N> &a) {
    return Bytes(a.begin(), a.end());
}

struct CommandCase {
    const char *name;
    uint8_t command;
    uint8_t modifier;
    uint32_t argument;
    uint16_t blockIndex;
    uint16_t blockLength;
    Bytes expected;
};

TEST(FrameFormat, CommandFramesEncodeFieldByFieldWithTheirChecksum) {
    const CommandCase cases[] = {
        {"all zero but the command", 0x01, 0x00, 0x00000000, 0, 0,
         {0x55, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {"write chunk 3", 0x21, 0x02, 0x00000100, 3, 0x0200,
         {0x55, 0xAA, 0x21, 0x02, 0x00, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x02, 0x28, 0x01}},
        {"single command", 0x10, 0x00, 0x00000005, 0xFFFF, 0,
         {0x55, 0xAA, 0x10, 0x00, 0x05, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x12, 0x03}},
        {"little-endian fields", 0x7E, 0x81, 0x04030201, 0x0605, 0x0807,
         {0x55, 0xAA, 0x7E, 0x81, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x22, 0x02}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToBytes(EncodeCommandFrame(c.command, c.modifier, c.argument, c.blockIndex,
                                             c.blockLength)),
                  c.expected);
    }
}

TEST(FrameFormat, WakeUpFrameCarriesAValidChecksumAndDiffersFromACommandOnlyInItsSync) {
    EXPECT_EQ(ToBytes(WakeUpFrame), (Bytes{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x00, 0xAA,
                                           0xAA, 0xAA, 0xAA, 0x4F, 0x06}));
    EXPECT_EQ(FrameChecksum(std::span(WakeUpFrame).subspan(2, 10)), 0x064F);
    EXPECT_EQ(FrameChecksum(std::span(WakeUpFrame).subspan(2, 10)), ReadLe16(&WakeUpFrame[12]));

    auto asCommand = EncodeCommandFrame(0xAA, 0xAA, 0x0000AAAA, 0xAAAA, 0xAAAA);
    EXPECT_EQ(asCommand[0], 0x55);
    EXPECT_TRUE(std::equal(asCommand.begin() + 1, asCommand.end(), WakeUpFrame.begin() + 1));
}

struct AckCase {
    const char *name;
    Bytes received;
    bool accepted;
};

TEST(FrameFormat, AckIsAcceptedOnlyWithItsSyncEchoAndStatus3) {
    const AckCase cases[] = {
        {"good, trailing zeros", {0x5A, 0xA5, 0x21, 0x03, 0x00, 0x00}, true},
        {"good, trailing bytes ignored", {0x5A, 0xA5, 0x21, 0x03, 0xFF, 0x12}, true},
        {"status 2", {0x5A, 0xA5, 0x21, 0x02, 0x00, 0x00}, false},
        {"status 0", {0x5A, 0xA5, 0x21, 0x00, 0x00, 0x00}, false},
        {"status 4", {0x5A, 0xA5, 0x21, 0x04, 0x00, 0x00}, false},
        {"wrong echo", {0x5A, 0xA5, 0x22, 0x03, 0x00, 0x00}, false},
        {"sync swapped", {0xA5, 0x5A, 0x21, 0x03, 0x00, 0x00}, false},
        {"first sync byte wrong", {0x5B, 0xA5, 0x21, 0x03, 0x00, 0x00}, false},
        {"only 4 bytes", {0x5A, 0xA5, 0x21, 0x03}, false},
        {"5 bytes", {0x5A, 0xA5, 0x21, 0x03, 0x00}, false},
        {"7 bytes", {0x5A, 0xA5, 0x21, 0x03, 0x00, 0x00, 0x00}, false},
        {"nothing", {}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AcceptAckFrame(0x21, c.received), c.accepted);
    }
}

TEST(FrameFormat, EncodedAckIsAcceptedForItsCommandOnly) {
    const auto ack = EncodeAckFrame(0x21, kAckStatusOk);
    EXPECT_TRUE(AcceptAckFrame(0x21, ack));
    EXPECT_FALSE(AcceptAckFrame(0x20, ack));
    EXPECT_FALSE(AcceptAckFrame(0x21, EncodeAckFrame(0x21, 0x04)));
}

struct ReplyCase {
    const char *name;
    Bytes received;
    bool accepted;
    uint16_t moreFlag;
    uint32_t value;
};

TEST(FrameFormat, ReplyIsAcceptedWithFlagOneOnlyForByte1AndItsValue) {
    const ReplyCase cases[] = {
        {"flag 1, value 0x200", {0xAA, 0x55, 0x21, 0x01, 0x00, 0x02, 0x00, 0x00, 0x23, 0x01}, true, 1,
         0x00000200},
        {"flag byte 2 counts as clear", {0xAA, 0x55, 0x21, 0x02, 0x00, 0x00, 0x00, 0x00, 0x22, 0x01},
         true, 0, 0},
        {"flag 0", {0xAA, 0x55, 0x21, 0x00, 0x78, 0x56, 0x34, 0x12, 0x34, 0x02}, true, 0, 0x12345678},
        {"flag 0xFF counts as clear", {0xAA, 0x55, 0x21, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x1F, 0x02},
         true, 0, 0},
        {"9 bytes", {0xAA, 0x55, 0x21, 0x01, 0x00, 0x02, 0x00, 0x00, 0x23}, false, 0, 0},
        {"11 bytes", {0xAA, 0x55, 0x21, 0x01, 0x00, 0x02, 0x00, 0x00, 0x23, 0x01, 0x00}, false, 0, 0},
        {"sync swapped", {0x55, 0xAA, 0x21, 0x01, 0x00, 0x02, 0x00, 0x00, 0x23, 0x01}, false, 0, 0},
        {"checksum off by one", {0xAA, 0x55, 0x21, 0x01, 0x00, 0x02, 0x00, 0x00, 0x24, 0x01}, false, 0,
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ReplyFields fields{7, 0xCAFEF00D};
        EXPECT_EQ(AcceptReplyFrame(0x21, c.received, fields), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(fields.moreFlag, c.moreFlag);
            EXPECT_EQ(fields.value, c.value);
        } else {
            EXPECT_EQ(fields.moreFlag, 7) << "a refused reply leaves the outputs alone";
            EXPECT_EQ(fields.value, 0xCAFEF00Du);
        }
    }
}

TEST(FrameFormat, ReplyWithAnySingleByteAlteredIsRefused) {
    const Bytes good = {0xAA, 0x55, 0x21, 0x01, 0x00, 0x02, 0x00, 0x00, 0x23, 0x01};
    ReplyFields fields;
    ASSERT_TRUE(AcceptReplyFrame(0x21, good, fields));
    for (std::size_t pos = 0; pos < good.size(); ++pos) {
        for (int delta = 1; delta < 256; ++delta) {
            Bytes altered = good;
            altered[pos] = static_cast<uint8_t>(altered[pos] + delta);
            EXPECT_FALSE(AcceptReplyFrame(0x21, altered, fields))
                << "byte " << pos << " changed by " << delta;
        }
    }
}

TEST(FrameFormat, EncodedReplyRoundTrips) {
    const auto reply = EncodeReplyFrame(0x10, 0x01, 0xDEADBEEF);
    ReplyFields fields;
    ASSERT_TRUE(AcceptReplyFrame(0x10, reply, fields));
    EXPECT_EQ(fields.moreFlag, 1);
    EXPECT_EQ(fields.value, 0xDEADBEEFu);
    EXPECT_FALSE(AcceptReplyFrame(0x11, reply, fields));
}

struct BlockCase {
    const char *name;
    uint8_t command;
    Bytes payload;
    Bytes expected;  // whole block, or only its tail when expectedSize is set
    std::size_t expectedSize;
};

Bytes Repeat(uint8_t b, std::size_t n) { return Bytes(n, b); }

TEST(FrameFormat, DataBlocksEncodeAndPassBothStagesOfTheirAcceptance) {
    const BlockCase cases[] = {
        {"four bytes", 0x21, {0x01, 0x02, 0x03, 0x04},
         {0x55, 0xAA, 0x21, 0x01, 0x02, 0x03, 0x04, 0x2A, 0x01}, 9},
        {"empty", 0x21, {}, {0x55, 0xAA, 0x21, 0x20, 0x01}, 5},
        {"300 x 0xFF wraps the sum to 16 bits", 0x21, Repeat(0xFF, 300), {0xF4, 0x2B}, 305},
        {"255 x 0xFF stays below the wrap", 0x21, Repeat(0xFF, 255), {0x21, 0xFF}, 260},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes block(c.payload.size() + kDataBlockOverhead);
        ASSERT_EQ(EncodeDataBlock(c.command, c.payload, block), c.expectedSize);
        ASSERT_EQ(block.size(), c.expectedSize);
        EXPECT_EQ(Bytes(block.end() - static_cast<std::ptrdiff_t>(c.expected.size()), block.end()),
                  c.expected);
        EXPECT_EQ(block[0], 0x55);
        EXPECT_EQ(block[1], 0xAA);
        EXPECT_EQ(block[2], c.command);

        const std::size_t n = c.payload.size();
        EXPECT_TRUE(AcceptDataBlockHeader(c.command, block, n));
        EXPECT_TRUE(AcceptDataBlockChecksum(c.command, std::span(block).subspan(3, n),
                                            ReadLe16(&block[n + 3])));
    }
}

TEST(FrameFormat, EmptyBlockChecksumIsTheCommandPlus0xFF) {
    for (int command : {0x00, 0x21, 0x22, 0xFF}) {
        EXPECT_EQ(DataBlockChecksum(static_cast<uint8_t>(command), {}),
                  static_cast<uint16_t>(command + 0xFF));
    }
}

struct BlockHeaderCase {
    const char *name;
    Bytes received;
    std::size_t n;
    bool accepted;
};

TEST(FrameFormat, DataBlockHeaderStageChecksCountSyncAndEcho) {
    const BlockHeaderCase cases[] = {
        {"good", {0x55, 0xAA, 0x21, 0x01, 0x02, 0x03, 0x04, 0x2A, 0x01}, 4, true},
        {"good header, wrong checksum", {0x55, 0xAA, 0x21, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00}, 4, true},
        {"sync 55 AB", {0x55, 0xAB, 0x21, 0x01, 0x02, 0x03, 0x04, 0x2A, 0x01}, 4, false},
        {"wrong echo", {0x55, 0xAA, 0x22, 0x01, 0x02, 0x03, 0x04, 0x2A, 0x01}, 4, false},
        {"one byte short", {0x55, 0xAA, 0x21, 0x01, 0x02, 0x03, 0x04, 0x2A}, 4, false},
        {"one byte long", {0x55, 0xAA, 0x21, 0x01, 0x02, 0x03, 0x04, 0x2A, 0x01, 0x00}, 4, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AcceptDataBlockHeader(0x21, c.received, c.n), c.accepted);
    }
}

TEST(FrameFormat, DataBlockChecksumStageRefusesAnyAlteredPayloadOrChecksumByte) {
    const Bytes good = {0x55, 0xAA, 0x21, 0x01, 0x02, 0x03, 0x04, 0x2A, 0x01};
    const std::size_t n = 4;
    for (std::size_t pos = 3; pos < good.size(); ++pos) {
        Bytes altered = good;
        altered[pos] = static_cast<uint8_t>(altered[pos] ^ 0x10);
        EXPECT_FALSE(AcceptDataBlockChecksum(0x21, std::span(altered).subspan(3, n),
                                             ReadLe16(&altered[n + 3])))
            << "byte " << pos;
    }
}

TEST(FrameFormat, DataBlockEncodingRefusesTooSmallStorage) {
    const Bytes payload = {1, 2, 3};
    Bytes out(payload.size() + kDataBlockOverhead - 1, 0xEE);
    EXPECT_EQ(EncodeDataBlock(0x21, payload, out), 0u);
    EXPECT_EQ(out, Bytes(out.size(), 0xEE));
}

}  // namespace
}  // namespace orv
