// The chunk loop alone, over a recording chunk transaction: how a buffer is
// cut, when the loop stops, and what reaches the caller's outputs.
#include <gtest/gtest.h>

#include <vector>

#include "device/block_transfer.h"

namespace orv {
namespace {

struct Chunk {
    uint32_t index;
    uint32_t length;
    std::ptrdiff_t offset;
};

struct Recorder {
    const uint8_t *base = nullptr;
    std::vector<Chunk> chunks;
    uint32_t stopAt = UINT32_MAX;  // answer moreFlag 0 at this chunk
    uint32_t failAt = UINT32_MAX;
    bool lastMore = true;

    auto transaction() {
        return [this](const uint8_t *position, uint32_t index, uint32_t length, uint16_t &more,
                      uint32_t *value) -> int32_t {
            if (index == failAt) return 0;
            chunks.push_back({index, length, position - base});
            more = index == stopAt ? 0 : (lastMore ? 1 : 0);
            *value = 1000 + index;
            return 1;
        };
    }
};

struct LoopCase {
    const char *name;
    uint32_t length;
    uint32_t chunkSize;
    uint32_t stopAt;
    std::vector<uint32_t> expectedLengths;
    uint16_t expectedMore;
    uint32_t expectedValue;
};

class ChunkLoopCases : public ::testing::TestWithParam<LoopCase> {};

TEST_P(ChunkLoopCases, CutsTheBufferAndReportsTheLastReply) {
    const LoopCase &c = GetParam();
    std::vector<uint8_t> buffer(c.length + 1);
    Recorder rec;
    rec.base = buffer.data();
    rec.stopAt = c.stopAt;
    uint16_t more = 7;
    uint32_t value = 7;
    ASSERT_EQ(ChunkLoop(static_cast<const uint8_t *>(buffer.data()), c.length, c.chunkSize, &more,
                        &value, rec.transaction()),
              1);
    ASSERT_EQ(rec.chunks.size(), c.expectedLengths.size());
    for (size_t i = 0; i < rec.chunks.size(); ++i) {
        EXPECT_EQ(rec.chunks[i].index, i);
        EXPECT_EQ(rec.chunks[i].length, c.expectedLengths[i]);
        EXPECT_EQ(rec.chunks[i].offset, static_cast<std::ptrdiff_t>(i * c.chunkSize));
    }
    EXPECT_EQ(more, c.expectedMore);
    EXPECT_EQ(value, c.expectedValue);
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, ChunkLoopCases,
    ::testing::Values(LoopCase{"EmptyNeedsNoChunk", 0, 100, UINT32_MAX, {}, 1, 0},
                      LoopCase{"ShorterThanAChunk", 40, 100, UINT32_MAX, {40}, 1, 1000},
                      LoopCase{"ExactMultiple", 300, 100, UINT32_MAX, {100, 100, 100}, 1, 1002},
                      LoopCase{"Remainder", 205, 100, UINT32_MAX, {100, 100, 5}, 1, 1002},
                      LoopCase{"EarlyStop", 300, 100, 1, {100, 100}, 0, 1001},
                      LoopCase{"StopAtLastShortChunk", 205, 100, 2, {100, 100, 5}, 0, 1002}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ChunkLoop, FailedChunkEndsTheTransferAndWritesNoOutput) {
    std::vector<uint8_t> buffer(500);
    Recorder rec;
    rec.base = buffer.data();
    rec.failAt = 2;
    uint16_t more = 7;
    uint32_t value = 7;
    EXPECT_EQ(ChunkLoop(static_cast<const uint8_t *>(buffer.data()), 500, 100, &more, &value,
                        rec.transaction()),
              0);
    EXPECT_EQ(rec.chunks.size(), 2u);
    EXPECT_EQ(more, 7);
    EXPECT_EQ(value, 7u);
}

TEST(ChunkLoop, RefusesChunkSizesThatCannotWorkBeforeAnyChunk) {
    std::vector<uint8_t> buffer(100);
    for (uint32_t chunkSize : {0u, 10004u, 0xFFFFFFFFu}) {
        Recorder rec;
        rec.base = buffer.data();
        uint16_t more = 7;
        EXPECT_EQ(ChunkLoop(static_cast<const uint8_t *>(buffer.data()), 100, chunkSize, &more,
                            nullptr, rec.transaction()),
                  0);
        EXPECT_TRUE(rec.chunks.empty());
        EXPECT_EQ(more, 7);
    }
    // Length 0 needs no chunk, so even a useless chunk size succeeds.
    uint16_t more = 7;
    Recorder rec;
    EXPECT_EQ(ChunkLoop(static_cast<const uint8_t *>(nullptr), 0, 0, &more, nullptr,
                        rec.transaction()),
              1);
    EXPECT_EQ(more, 1);
}

TEST(ChunkLoop, ChunkNumbersKeepCountingPastSixteenBits) {
    const uint32_t chunks = 65538;
    std::vector<uint8_t> buffer(chunks);
    Recorder rec;
    rec.base = buffer.data();
    uint16_t more = 0;
    ASSERT_EQ(ChunkLoop(static_cast<const uint8_t *>(buffer.data()), chunks, 1, &more, nullptr,
                        rec.transaction()),
              1);
    ASSERT_EQ(rec.chunks.size(), chunks);
    EXPECT_EQ(rec.chunks[65536].index, 65536u);
    EXPECT_EQ(rec.chunks[65537].index, 65537u);
    EXPECT_EQ(rec.chunks[65537].offset, 65537);
}

TEST(ChunkLoop, ObserverHearsEveryAcceptedChunk) {
    std::vector<uint8_t> buffer(250);
    Recorder rec;
    rec.base = buffer.data();
    std::vector<uint32_t> done;
    TransferObserver observer;
    observer.context = &done;
    observer.chunkDone = [](void *context, uint32_t bytesDone, uint32_t) {
        static_cast<std::vector<uint32_t> *>(context)->push_back(bytesDone);
    };
    uint16_t more = 0;
    ASSERT_EQ(ChunkLoop(static_cast<const uint8_t *>(buffer.data()), 250, 100, &more, nullptr,
                        rec.transaction(), &observer),
              1);
    EXPECT_EQ(done, (std::vector<uint32_t>{100, 200, 250}));
}

}  // namespace
}  // namespace orv
