// Closing a dialled link: the call is held until 3 s after it came up.
#include <ctime>
#include <thread>

#include "link/link_state.h"
#include "modem_fixture.h"

namespace orv::test {
namespace {

// Closes and returns how long the close took.
Clock::duration TimedClose() {
    const auto start = Clock::now();
    EXPECT_EQ(OrvCloseComm(), 1);
    return Clock::now() - start;
}

class ModemRelease : public ModemLinkTest {
protected:
    void SetUp() override {
        ModemLinkTest::SetUp();
        startModem();
        ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    }
};

TEST_F(ModemRelease, ACloseInTheSecondOfTheConnectHoldsTheCallForThreeSeconds) {
    const std::time_t elapsed = std::time(nullptr) - linkState.connectedAt;
    const auto took = TimedClose();
    ASSERT_EQ(elapsed, 0);  // the open has just returned
    EXPECT_GE(took, 3000ms);
    EXPECT_LT(took, 3000ms + 300ms);
}

TEST_F(ModemRelease, ACloseThreeSecondsAfterTheConnectTakesNoExtraTime) {
    // Until the calendar second that the library reads says 3 s have passed.
    std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(linkState.connectedAt + 3));
    while (std::time(nullptr) < linkState.connectedAt + 3) std::this_thread::sleep_for(1ms);
    const auto took = TimedClose();
    EXPECT_LT(took, 150ms);
}

TEST_F(ModemRelease, AClockSetBackNeverHoldsMoreThanThreeSeconds) {
    // As if the calendar clock went back an hour since the connect.
    linkState.connectedAt = std::time(nullptr) + 3600;
    const auto took = TimedClose();
    EXPECT_GE(took, 3000ms);
    EXPECT_LT(took, 3000ms + 300ms);
}

TEST_F(ModemRelease, ReleasesTheFourEventsAndLeavesNoHandleBehind) {
    TimedClose();
    EXPECT_EQ(linkState.responseOkEvent, nullptr);
    EXPECT_EQ(linkState.responseFailEvent, nullptr);
    EXPECT_EQ(linkState.modemIo.hEvent, nullptr);
    EXPECT_EQ(linkState.modemSpareIo.hEvent, nullptr);
    EXPECT_EQ(linkState.watcherThread, nullptr);
}

TEST_F(ModemRelease, ANewOpenClosesTheDialledLinkWithItsHoldFirst) {
    const auto start = Clock::now();
    ASSERT_EQ(OrvOpenComm(kModemPort, 0, nullptr, 0), 1);  // direct this time
    EXPECT_GE(Clock::now() - start, 2000ms);  // at least what was left of the 3 s
    EXPECT_EQ(linkState.responseOkEvent, nullptr);
    EXPECT_LT(TimedClose(), 150ms);  // a direct link has no hold
}

}  // namespace
}  // namespace orv::test
