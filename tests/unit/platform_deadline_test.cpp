// The one deadline that every bounded wait of the platform layer uses.
#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>

#include "platform/posix/deadline.h"

namespace orv::win {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(Deadline, NeverIsEndlessAndWaitsWithoutTimeout) {
    Deadline d = Deadline::Never();
    EXPECT_TRUE(d.endless());
    EXPECT_FALSE(d.expired());
    EXPECT_EQ(d.pollTimeoutMs(), -1);
}

TEST(Deadline, PollTimeoutRoundsUpSoAWaitNeverEndsEarly) {
    for (int ms : {0, 1, 7, 50}) {
        SCOPED_TRACE(ms);
        auto start = Clock::now();
        Deadline d = Deadline::After(milliseconds(ms));
        while (!d.expired()) ::poll(nullptr, 0, d.pollTimeoutMs());
        auto took = Clock::now() - start;
        EXPECT_GE(took, milliseconds(ms));
        EXPECT_LT(took, milliseconds(ms + 150));
    }
}

TEST(Deadline, ALongWaitWakesALittleEarlyToMakeUpForKernelSlack) {
    int first = Deadline::After(milliseconds(5000)).pollTimeoutMs();
    EXPECT_LE(first, 4995);
    EXPECT_GE(first, 4990);
    EXPECT_EQ(Deadline::After(milliseconds(1500)).pollTimeoutMs(), 1500);
}

TEST(Deadline, EarliestPicksTheSoonerAndIgnoresNever) {
    Deadline soon = Deadline::After(milliseconds(10));
    Deadline late = Deadline::After(milliseconds(1000));
    EXPECT_EQ(soon.earliest(late).when(), soon.when());
    EXPECT_EQ(late.earliest(soon).when(), soon.when());
    EXPECT_EQ(Deadline::Never().earliest(late).when(), late.when());
    EXPECT_TRUE(Deadline::Never().earliest(Deadline::Never()).endless());
}

TEST(Deadline, HugeSpansCountAsEndless) {
    EXPECT_TRUE(Deadline::AfterMs(~uint64_t{0}).endless());
    // The longest time-out a read of 16 bytes can be given: about 2.3 years.
    EXPECT_FALSE(Deadline::AfterMs(uint64_t{0xFFFFFFFF} * 16 + 0xFFFFFFFF).endless());
    EXPECT_GT(Deadline::AfterMs(uint64_t{0xFFFFFFFF} * 3).pollTimeoutMs(), 1000000);
}

}  // namespace
}  // namespace orv::win
