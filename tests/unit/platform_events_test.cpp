// Handles, unnamed events, waits and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "platform/posix/test_seam.h"
#include "platform/posix/win_api.h"

namespace orv::win {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class EventsTest : public ::testing::Test {
protected:
    void SetUp() override { seam::Reset(); }
    void TearDown() override { seam::Reset(); }
};

TEST_F(EventsTest, NullInvalidAndClosedHandlesFailCleanly) {
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(closed, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    HANDLE forged = reinterpret_cast<HANDLE>(uintptr_t{0x12345});
    for (HANDLE h : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, closed, forged}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(ResetEvent(h));
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        DCB dcb{};
        EXPECT_FALSE(GetCommState(h, &dcb));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST_F(EventsTest, AStaleHandleDoesNotReachTheObjectThatReusedItsSlot) {
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(first));
    HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_FALSE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    CloseHandle(second);
}

TEST_F(EventsTest, AutoResetIsConsumedByTheWaitManualResetIsNot) {
    HANDLE autoEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(autoEvent, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);

    // Set twice, consumed by one wait.
    ASSERT_TRUE(SetEvent(autoEvent));
    ASSERT_TRUE(SetEvent(autoEvent));
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    CloseHandle(autoEvent);
    CloseHandle(manual);
}

TEST_F(EventsTest, InitialStateSignalsAtCreation) {
    HANDLE e = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

TEST_F(EventsTest, WhenBothAreSignalledTheLowerIndexWins) {
    HANDLE pair[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                      CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    SetEvent(pair[1]);
    SetEvent(pair[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 50), WAIT_OBJECT_0);
    // Only the reported one was consumed.
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 50), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_TIMEOUT);
    CloseHandle(pair[0]);
    CloseHandle(pair[1]);
}

TEST_F(EventsTest, WaitTimesOutAfterItsTime) {
    HANDLE pair[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                      CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    for (DWORD ms : {0u, 1u, 50u, 250u}) {
        auto start = Clock::now();
        EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, ms), WAIT_TIMEOUT);
        double took = MsSince(start);
        std::printf("wait of %u ms timed out after %.2f ms\n", ms, took);
        EXPECT_GE(took, ms);
        EXPECT_LT(took, ms + 150.0);
    }
    CloseHandle(pair[0]);
    CloseHandle(pair[1]);
}

TEST_F(EventsTest, ASetFromAnotherThreadEndsTheWaitAtOnce) {
    HANDLE pair[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                      CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    auto start = Clock::now();
    auto setter = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(100));
        SetEvent(pair[1]);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 5000), WAIT_OBJECT_0 + 1);
    double took = MsSince(start);
    EXPECT_GE(took, 100.0);
    EXPECT_LT(took, 100.0 + 150.0);
    setter.get();
    CloseHandle(pair[0]);
    CloseHandle(pair[1]);
}

TEST_F(EventsTest, OneSignalOfAnAutoResetEventWakesOnlyOneOfTwoWaiters) {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto waiter = [&] { return WaitForSingleObject(e, 400); };
    auto a = std::async(std::launch::async, waiter);
    auto b = std::async(std::launch::async, waiter);
    SetEvent(e);
    DWORD ra = a.get(), rb = b.get();
    EXPECT_EQ((ra == WAIT_OBJECT_0) + (rb == WAIT_OBJECT_0), 1);
    EXPECT_EQ((ra == WAIT_TIMEOUT) + (rb == WAIT_TIMEOUT), 1);
    CloseHandle(e);
}

TEST_F(EventsTest, WaitAllAndBadCountsAreRefused) {
    HANDLE e = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(1, &e, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(0, &e, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(65, &e, FALSE, 0), WAIT_FAILED);
    HANDLE mixed[2] = {e, nullptr};
    EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(e);
}

TEST_F(EventsTest, SeamMakesCreateEventFail) {
    seam::Faults faults;
    faults.failCreateEvent = true;
    seam::Inject(faults);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr);
    seam::Reset();
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(e, nullptr);
    CloseHandle(e);
}

std::atomic<bool> releaseThread{false};

DWORD WaitForRelease(LPVOID arg) {
    while (!releaseThread.load()) std::this_thread::sleep_for(milliseconds(1));
    static_cast<std::atomic<int> *>(arg)->fetch_add(1);
    return 7;
}

TEST_F(EventsTest, AThreadHandleIsSignalledWhenItsFunctionHasReturned) {
    std::atomic<int> ran{0};
    releaseThread = false;
    HANDLE t = CreateThread(nullptr, 0, WaitForRelease, &ran, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 50), WAIT_TIMEOUT);
    releaseThread = true;
    EXPECT_EQ(WaitForSingleObject(t, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(ran.load(), 1);
    // Stays signalled.
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(t));
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_FAILED);
}

TEST_F(EventsTest, ClosingARunningThreadLetsItFinishOnItsOwn) {
    std::atomic<int> ran{0};
    releaseThread = false;
    HANDLE t = CreateThread(nullptr, 64 * 1024, WaitForRelease, &ran, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(CloseHandle(t));
    releaseThread = true;
    auto deadline = Clock::now() + milliseconds(2000);
    while (ran.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(ran.load(), 1);
}

TEST_F(EventsTest, SeamMakesCreateThreadFail) {
    std::atomic<int> ran{0};
    releaseThread = true;
    seam::Faults faults;
    faults.failCreateThread = true;
    seam::Inject(faults);
    EXPECT_EQ(CreateThread(nullptr, 0, WaitForRelease, &ran, 0, nullptr), nullptr);
    seam::Reset();
    HANDLE t = CreateThread(nullptr, 0, WaitForRelease, &ran, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(ran.load(), 1);
    CloseHandle(t);
}

TEST_F(EventsTest, LastErrorBelongsToEachThread) {
    SetLastError(1234);
    std::thread([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(99);
    }).join();
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST_F(EventsTest, SleepPausesForItsTime) {
    for (DWORD ms : {1u, 20u, 100u}) {
        auto start = Clock::now();
        Sleep(ms);
        double took = MsSince(start);
        EXPECT_GE(took, ms);
        EXPECT_LT(took, ms + 150.0);
    }
}

}  // namespace
}  // namespace orv::win
