// Port event reports: transmit-empty after a write, received characters, the
// wake-up by SetCommMask from another thread, and a device that goes.
#include <future>
#include <thread>

#include "platform_port_fixture.h"

namespace orv::win::test {
namespace {

constexpr DWORD MAXDWORD_INTERVAL = 0xFFFFFFFFu;  // read: take what is queued

struct WaitResult {
    BOOL ok;
    DWORD report;
    DWORD error;
    double ms;
};

WaitResult WaitEvent(HANDLE port) {
    DWORD report = 0xDEAD;
    auto start = Clock::now();
    BOOL ok = WaitCommEvent(port, &report, nullptr);
    return {ok, report, ok ? 0 : GetLastError(), MsSince(start)};
}

std::future<WaitResult> WaitInBackground(HANDLE port) {
    return std::async(std::launch::async, [port] { return WaitEvent(port); });
}

class CommEventsTest : public PortTest {
protected:
    void write(const Bytes &bytes) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
};

TEST_F(CommEventsTest, TransmitEmptyIsReportedOnceAfterAWrite) {
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
    setTimeouts(0, 0, 100, 2, 1000);
    write(Bytes(14, 0x55));
    WaitResult r = WaitEvent(port);
    std::printf("transmit-empty reported %.3f ms after the wait began\n", r.ms);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.report, EV_TXEMPTY);
    EXPECT_LT(r.ms, 150.0);

    // Reported once: the next wait holds until something ends it.
    auto second = WaitInBackground(port);
    EXPECT_EQ(second.wait_for(milliseconds(200)), std::future_status::timeout);
    write({1});
    WaitResult r2 = second.get();
    EXPECT_TRUE(r2.ok);
    EXPECT_EQ(r2.report, EV_TXEMPTY);
}

TEST_F(CommEventsTest, AFailedOrShortWriteStillEndsATransmitEmptyWait) {
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
    setTimeouts(MAXDWORD_INTERVAL, 0, 0, 2, 100);
    // A marked line error (which a pty cannot make) puts the port in its
    // error state; a read takes it in.
    seam::Faults faults;
    faults.rawInput = {0xFF, 0x00, 0x00};
    seam::Inject(faults);
    uint8_t buf[1];
    DWORD count = 0;
    ASSERT_FALSE(ReadFile(port, buf, 1, &count, nullptr));
    Bytes frame(14, 0x41);
    EXPECT_FALSE(WriteFile(port, frame.data(), 14, &count, nullptr));
    WaitResult failed = WaitEvent(port);
    EXPECT_TRUE(failed.ok);
    EXPECT_EQ(failed.report, EV_TXEMPTY);

    ASSERT_TRUE(ClearCommError(port, nullptr, nullptr));
    faults = {};
    faults.writeCap = 13;
    seam::Inject(faults);
    EXPECT_TRUE(WriteFile(port, frame.data(), 14, &count, nullptr));
    EXPECT_EQ(count, 13u);
    WaitResult shortWrite = WaitEvent(port);
    EXPECT_TRUE(shortWrite.ok);
    EXPECT_EQ(shortWrite.report, EV_TXEMPTY);
}

TEST_F(CommEventsTest, NewInputIsReportedAsReceivedCharacters) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_TXEMPTY));
    auto waiting = WaitInBackground(port);
    EXPECT_EQ(waiting.wait_for(milliseconds(100)), std::future_status::timeout);
    auto sent = Clock::now();
    send({'O', 'K', '\r'});
    WaitResult r = waiting.get();
    std::printf("received characters reported %.3f ms after they were sent\n", MsSince(sent));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.report, EV_RXCHAR);

    // Those bytes are not new any more; they stay queued for reading.
    auto next = WaitInBackground(port);
    EXPECT_EQ(next.wait_for(milliseconds(150)), std::future_status::timeout);
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 3u);
    send({'!'});
    EXPECT_EQ(next.get().report, EV_RXCHAR);
}

TEST_F(CommEventsTest, InputReceivedBeforeTheWaitIsReportedAtOnce) {
    ASSERT_TRUE(SetCommMask(port, 0x1FF));
    send({'A', 'T'});
    COMSTAT stat{};
    auto deadline = Clock::now() + milliseconds(1000);
    while (stat.cbInQue < 2 && Clock::now() < deadline) ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    WaitResult r = WaitEvent(port);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.report, EV_RXCHAR);
    EXPECT_LT(r.ms, 150.0);
}

TEST_F(CommEventsTest, AReceivedCharacterDoesNotEndATransmitEmptyWait) {
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
    auto waiting = WaitInBackground(port);
    send({'x'});
    EXPECT_EQ(waiting.wait_for(milliseconds(300)), std::future_status::timeout);
    write({1, 2});
    WaitResult r = waiting.get();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.report, EV_TXEMPTY);
}

TEST_F(CommEventsTest, SetCommMaskFromAnotherThreadEndsAPendingWaitWithNoEvents) {
    ASSERT_TRUE(SetCommMask(port, 0x1FF));
    auto waiting = WaitInBackground(port);
    EXPECT_EQ(waiting.wait_for(milliseconds(100)), std::future_status::timeout);
    auto woken = Clock::now();
    ASSERT_TRUE(SetCommMask(port, 0));
    WaitResult r = waiting.get();
    double after = MsSince(woken);
    std::printf("SetCommMask ended the wait %.3f ms later\n", after);
    EXPECT_EQ(r.ok, TRUE);
    EXPECT_EQ(r.report, 0u);
    EXPECT_LT(after, 150.0);
    DWORD mask = 99;
    EXPECT_TRUE(GetCommMask(port, &mask));
    EXPECT_EQ(mask, 0u);
    // With no event to wait for, a wait fails at once.
    WaitResult none = WaitEvent(port);
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.error, ERROR_INVALID_PARAMETER);
}

TEST_F(CommEventsTest, ADeviceThatGoesEndsTheWait) {
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY | EV_RXCHAR));
    auto waiting = WaitInBackground(port);
    EXPECT_EQ(waiting.wait_for(milliseconds(100)), std::future_status::timeout);
    auto gone = Clock::now();
    line.hangUp();
    WaitResult r = waiting.get();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ERROR_DEVICE_REMOVED);
    EXPECT_LT(MsSince(gone), 150.0);
    // And later waits end at once.
    WaitResult again = WaitEvent(port);
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.error, ERROR_DEVICE_REMOVED);
    EXPECT_LT(again.ms, 150.0);
}

TEST_F(CommEventsTest, ClosingThePortEndsAWaitOnIt) {
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
    auto waiting = WaitInBackground(port);
    EXPECT_EQ(waiting.wait_for(milliseconds(100)), std::future_status::timeout);
    ASSERT_TRUE(CloseHandle(port));
    HANDLE closed = port;
    port = INVALID_HANDLE_VALUE;
    WaitResult r = waiting.get();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ERROR_INVALID_HANDLE);
    WaitResult stale = WaitEvent(closed);
    EXPECT_FALSE(stale.ok);
    EXPECT_EQ(stale.error, ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WaitCommEvent(nullptr, nullptr, nullptr));
}

}  // namespace
}  // namespace orv::win::test
