// The pace of a read's arrivals, which lets a reader of a slow line sleep
// between looks instead of waking for every piece.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/posix/arrival_rate.h"

namespace orv::win {
namespace {

using std::chrono::milliseconds;
using Clock = ArrivalRate::Clock;

struct Look {
    int atMs;
    uint64_t moved;
};

struct LullCase {
    const char *name;
    std::vector<Look> looks;
    uint64_t missing;
    milliseconds lull;
};

// Half the time the missing bytes need at the pace seen so far, within bounds.
TEST(ArrivalRate, SleepsThroughHalfOfWhatTheRestNeeds) {
    const LullCase cases[] = {
        {"nothing seen yet", {}, 1000, milliseconds(0)},
        {"one look is no pace yet", {{0, 4}}, 1000, milliseconds(0)},
        {"a byte a millisecond, 16 to come", {{0, 1}, {1, 1}}, 16, milliseconds(8)},
        {"a byte a millisecond, far to go: the longest lull", {{0, 1}, {1, 1}}, 10000,
         ArrivalRate::kLongestLull},
        {"near the end it waits for input", {{0, 1}, {1, 1}}, 3, milliseconds(0)},
        {"all at once, as a fast line brings it", {{0, 4093}, {0, 4093}}, 1822, milliseconds(0)},
        {"looks without bytes change nothing", {{0, 1}, {5, 0}, {10, 10}}, 10, milliseconds(5)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ArrivalRate rate;
        const auto start = Clock::now();
        for (const auto &look : c.looks) rate.note(look.moved, start + milliseconds(look.atMs));
        EXPECT_EQ(rate.lull(c.missing), c.lull);
    }
}

}  // namespace
}  // namespace orv::win
