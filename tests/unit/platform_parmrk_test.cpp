// The decoder of marked tty input: doubled FF, marked line errors, and
// markings cut by the border of a raw read.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/posix/parmrk_decoder.h"

namespace orv::win {
namespace {

using Bytes = std::vector<uint8_t>;

struct DecodeCase {
    const char *what;
    std::vector<Bytes> reads;  // raw reads, in order
    Bytes data;                // decoded data of all of them
    std::size_t lineErrors;
    bool pendingAtEnd;
};

const DecodeCase kCases[] = {
    {"plain bytes pass", {{0x55, 0xAA, 0x00, 0x10}}, {0x55, 0xAA, 0x00, 0x10}, 0, false},
    {"doubled FF is one FF", {{0x01, 0xFF, 0xFF, 0x02}}, {0x01, 0xFF, 0x02}, 0, false},
    {"two data FFs", {{0xFF, 0xFF, 0xFF, 0xFF}}, {0xFF, 0xFF}, 0, false},
    {"marked byte is a line error", {{0x01, 0xFF, 0x00, 0x41, 0x02}}, {0x01, 0x02}, 1, false},
    {"break marking", {{0xFF, 0x00, 0x00}}, {}, 1, false},
    {"FF at a read border", {{0x01, 0xFF}, {0xFF, 0x02}}, {0x01, 0xFF, 0x02}, 0, false},
    {"marking cut after FF", {{0xFF}, {0x00, 0x41}}, {}, 1, false},
    {"marking cut after FF 00", {{0x33, 0xFF, 0x00}, {0x41, 0x34}}, {0x33, 0x34}, 1, false},
    {"FF alone stays pending", {{0x10, 0xFF}}, {0x10}, 0, true},
    {"FF 00 stays pending", {{0xFF, 0x00}}, {}, 0, true},
    {"undoubled FF is taken as data", {{0xFF, 0x41}}, {0xFF, 0x41}, 0, false},
    {"undoubled FF across a border", {{0xFF}, {0x41}}, {0xFF, 0x41}, 0, false},
    {"empty reads change nothing", {{}, {0xFF}, {}, {0xFF}}, {0xFF}, 0, false},
    {"errors counted each", {{0xFF, 0x00, 1, 0xFF, 0x00, 2, 0x07}}, {0x07}, 2, false},
};

TEST(ParmrkDecoder, DecodesMarkedInputAcrossReadBorders) {
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        ParmrkDecoder decoder;
        Bytes data;
        std::size_t errors = 0;
        for (const auto &raw : c.reads) {
            Bytes out(ParmrkDecoder::MaxOutput(raw.size()));
            auto r = decoder.decode(raw, out);
            ASSERT_LE(r.produced, out.size());
            data.insert(data.end(), out.begin(), out.begin() + static_cast<long>(r.produced));
            errors += r.lineErrors;
        }
        EXPECT_EQ(data, c.data);
        EXPECT_EQ(errors, c.lineErrors);
        EXPECT_EQ(decoder.pending(), c.pendingAtEnd);
    }
}

TEST(ParmrkDecoder, ResetForgetsAMarkingInProgress) {
    ParmrkDecoder decoder;
    Bytes out(4);
    decoder.decode(Bytes{0xFF, 0x00}, out);
    decoder.reset();
    auto r = decoder.decode(Bytes{0x41}, out);
    EXPECT_EQ(r.produced, 1u);
    EXPECT_EQ(out[0], 0x41);
    EXPECT_EQ(r.lineErrors, 0u);
}

}  // namespace
}  // namespace orv::win
