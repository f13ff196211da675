// The port waits that the Windows platform layer adds to WaitCommEvent: a
// completion record with an event, a bound, and a wake from another thread.
// Each leaves no wait pending: the port's next wait works.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/comm_waits.h"
#include "protocol/frame_format.h"
#include "support/sim_host.h"

namespace orv::wintest {
namespace {

class CommWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        Ask("reset 1");
        port_ = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
        PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
        ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR | EV_TXEMPTY));
        writeIo_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
        if (writeIo_.hEvent != nullptr) CloseHandle(writeIo_.hEvent);
    }

    // A command frame to the device simulator, which answers with an ack and a reply.
    void writeCommand() {
        const auto frame = EncodeCommandFrame(0x10, 0, 1, 0xFFFF, 0);
        DWORD count = 0;
        BOOL done = WriteFile(port_, frame.data(), static_cast<DWORD>(frame.size()), &count, &writeIo_);
        if (!done && GetLastError() == ERROR_IO_PENDING)
            done = GetOverlappedResult(port_, &writeIo_, &count, TRUE);
        ASSERT_TRUE(done);
        ASSERT_EQ(count, frame.size());
    }

    // Waits (bounded) until the events seen include `wanted`.
    DWORD awaitEvents(DWORD wanted) {
        DWORD seen = 0;
        for (int i = 0; i < 10 && (seen & wanted) != wanted; ++i) {
            DWORD events = 0;
            if (WaitCommEventBounded(port_, &events, 2000)) seen |= events;
        }
        return seen;
    }

    HANDLE port_ = INVALID_HANDLE_VALUE;
    OVERLAPPED writeIo_{};
};

TEST_F(CommWaitTest, BoundedWaitReportsTransmitEmptyAndReceivedCharacters) {
    writeCommand();
    EXPECT_EQ(awaitEvents(EV_TXEMPTY | EV_RXCHAR), DWORD{EV_TXEMPTY | EV_RXCHAR});
}

TEST_F(CommWaitTest, BoundedWaitGivesUpAtItsBoundAndLeavesNoWaitBehind) {
    for (int round = 0; round < 2; ++round) {
        DWORD events = 99;
        const auto start = Clock::now();
        EXPECT_FALSE(WaitCommEventBounded(port_, &events, 300));
        const double elapsed = MsSince(start);
        EXPECT_EQ(events, 0u);
        EXPECT_GE(elapsed, 300.0);
        EXPECT_LE(elapsed, 300.0 * 1.5 + 150);
    }
    writeCommand();
    EXPECT_TRUE(awaitEvents(EV_TXEMPTY) & EV_TXEMPTY);
}

TEST_F(CommWaitTest, WakeableWaitEndsWhenWokenFromAnotherThreadAndTheNextWaitWorks) {
    DWORD events = 99;
    std::atomic<bool> returned{false};
    Clock::time_point woken{};
    // Wakes as the modem watcher's ender does: again and again until the
    // waiter has returned, since a wake before the wait begins is not kept.
    // The first comes after 200 ms, to show that the wait waits until then.
    std::thread waker([&] {
        Sleep(200);
        woken = Clock::now();
        while (!returned.load()) {
            WakeCommEventWaiter(port_);
            Sleep(5);
        }
    });
    const auto start = Clock::now();
    WaitCommEventWakeable(port_, &events);
    const auto ended = Clock::now();
    returned.store(true);
    waker.join();
    EXPECT_EQ(events, 0u);
    using Ms = std::chrono::duration<double, std::milli>;
    EXPECT_GE(Ms(ended - start).count(), 200.0);
    EXPECT_LE(Ms(ended - woken).count(), 150.0);
    writeCommand();
    EXPECT_TRUE(awaitEvents(EV_TXEMPTY) & EV_TXEMPTY);
}

}  // namespace
}  // namespace orv::wintest
