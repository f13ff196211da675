// Transfers on a pseudo-terminal port: the read and write time-out rules, a
// device that goes away, marked input and the error state it leaves.
#include <sys/ioctl.h>

#include <cstdio>
#include <future>
#include <limits>
#include <thread>

#include "platform_port_fixture.h"

namespace orv::win::test {
namespace {

constexpr DWORD MAXDWORD = std::numeric_limits<DWORD>::max();

struct ReadTimeoutCase {
    DWORD multiplier;
    DWORD constant;
};

// The read time-outs the library uses at 38400, 9600 and 1200 bit/s with the
// constants of an open, a reply and an acknowledgement.
const ReadTimeoutCase kReadTimeouts[] = {{0, 100}, {2, 500}, {16, 100}, {16, 3000}};

TEST_F(PortTest, ReadEndsAtItsTotalTimeoutWithWhatArrived) {
    for (const auto &c : kReadTimeouts) {
        SCOPED_TRACE(c.multiplier);
        setTimeouts(0, c.multiplier, c.constant);
        send({1, 2, 3, 4});
        uint8_t buf[6] = {};
        DWORD count = 99;
        OVERLAPPED ov{};
        auto start = Clock::now();
        BOOL ok = ReadFile(port, buf, 6, &count, &ov);
        double took = MsSince(start);
        double limit = c.multiplier * 6.0 + c.constant;
        std::printf("read 6, 4 arrive: multiplier %u, constant %u: limit %.0f ms, ended after %.2f ms\n",
                    c.multiplier, c.constant, limit, took);
        EXPECT_EQ(ok, TRUE);
        EXPECT_EQ(count, 4u);
        EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{1, 2, 3, 4}));
        EXPECT_GE(took, limit);
        EXPECT_LT(took, limit + 150.0);
        DWORD again = 0;
        EXPECT_TRUE(GetOverlappedResult(port, &ov, &again, TRUE));
        EXPECT_EQ(again, 4u);
    }
}

TEST_F(PortTest, ReadEndsAsSoonAsAllBytesArrived) {
    setTimeouts(0, 0, 2000);
    auto sender = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(50));
        send({9, 8, 7});
    });
    uint8_t buf[3];
    DWORD count = 0;
    auto start = Clock::now();
    EXPECT_TRUE(ReadFile(port, buf, 3, &count, nullptr));
    EXPECT_EQ(count, 3u);
    EXPECT_LT(MsSince(start), 50.0 + 150.0);
    sender.get();
}

TEST_F(PortTest, ReadWithoutTotalTimeoutEndsWhenTheDeviceGoes) {
    setTimeouts(0, 0, 0);
    send({5, 6});
    auto hangUp = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(100));
        line.hangUp();
    });
    uint8_t buf[6] = {};  // written back below, whole
    DWORD count = 99;
    OVERLAPPED ov{};
    auto start = Clock::now();
    EXPECT_FALSE(ReadFile(port, buf, 6, &count, &ov));
    double took = MsSince(start);
    std::printf("read with no total time-out ended %.2f ms after start, device gone at 100 ms\n", took);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    EXPECT_EQ(count, 2u);
    EXPECT_GE(took, 100.0);
    EXPECT_LT(took, 100.0 + 150.0);
    DWORD again = 0;
    EXPECT_FALSE(GetOverlappedResult(port, &ov, &again, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    EXPECT_EQ(again, 2u);
    hangUp.get();
    // Every later transfer fails at once.
    start = Clock::now();
    EXPECT_FALSE(ReadFile(port, buf, 6, &count, nullptr));
    EXPECT_FALSE(WriteFile(port, buf, 6, &count, nullptr));
    EXPECT_LT(MsSince(start), 150.0);
}

TEST_F(PortTest, IntervalTimeoutEndsAReadAtAGapAfterTheFirstByte) {
    setTimeouts(50, 0, 0);
    Clock::time_point sentAt;
    auto sender = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(100));
        sentAt = Clock::now();
        send({1, 2});
    });
    uint8_t buf[8];
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(port, buf, 8, &count, nullptr));
    const auto end = Clock::now();
    sender.get();
    EXPECT_EQ(count, 2u);
    // The gap counts only once a byte has arrived.
    const double afterSend = std::chrono::duration<double, std::milli>(end - sentAt).count();
    EXPECT_GE(afterSend, 50.0);
    EXPECT_LT(afterSend, 50.0 + 150.0);
}

TEST_F(PortTest, MaxIntervalWithoutTotalsReturnsWhatIsQueuedAtOnce) {
    setTimeouts(MAXDWORD, 0, 0);
    uint8_t buf[8];
    DWORD count = 99;
    auto start = Clock::now();
    EXPECT_TRUE(ReadFile(port, buf, 8, &count, nullptr));
    EXPECT_EQ(count, 0u);
    send({4, 5, 6});
    // Wait until the pty has passed them on, then read without waiting.
    COMSTAT stat{};
    for (int i = 0; i < 1000 && stat.cbInQue < 3; ++i) {
        std::this_thread::sleep_for(milliseconds(1));
        ClearCommError(port, nullptr, &stat);
    }
    EXPECT_TRUE(ReadFile(port, buf, 8, &count, nullptr));
    EXPECT_EQ(count, 3u);
    EXPECT_LT(MsSince(start), 150.0);
}

TEST_F(PortTest, WriteCompletesWithAllBytes) {
    setTimeouts(0, 0, 100, 2, 1000);
    Bytes frame{0x55, 0xAA, 0x10, 0x00, 0x05, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0x12, 0x03};
    DWORD written = 0;
    OVERLAPPED ov{};
    auto start = Clock::now();
    EXPECT_EQ(WriteFile(port, frame.data(), 14, &written, &ov), TRUE);
    EXPECT_LT(MsSince(start), 150.0);
    EXPECT_EQ(written, 14u);
    EXPECT_EQ(received(14), frame);
    DWORD again = 0;
    EXPECT_TRUE(GetOverlappedResult(port, &ov, &again, TRUE));
    EXPECT_EQ(again, 14u);
}

TEST_F(PortTest, SeamCapsTheBytesAWriteMoves) {
    setTimeouts(0, 0, 100, 2, 1000);
    seam::Faults faults;
    faults.writeCap = 13;
    seam::Inject(faults);
    Bytes frame(14, 0x41);
    DWORD written = 0;
    EXPECT_EQ(WriteFile(port, frame.data(), 14, &written, nullptr), TRUE);
    EXPECT_EQ(written, 13u);
    EXPECT_EQ(received(13), Bytes(13, 0x41));
}

TEST_F(PortTest, WriteEndsAtItsTimeoutWhenTheLineIsFull) {
    // Nobody reads the master end, so the pty fills.
    setTimeouts(0, 0, 100, 0, 200);
    Bytes big(1 << 20, 0x5A);
    DWORD written = 0;
    auto start = Clock::now();
    EXPECT_EQ(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &written, nullptr), TRUE);
    double took = MsSince(start);
    std::printf("write into a full pty: %u bytes moved, ended after %.2f ms (limit 200)\n", written, took);
    EXPECT_LT(written, big.size());
    EXPECT_GT(written, 0u);
    EXPECT_GE(took, 200.0);
    EXPECT_LT(took, 200.0 + 150.0);
}

TEST_F(PortTest, WriteFailsWhenTheDeviceHasGone) {
    line.hangUp();
    uint8_t b[4] = {1, 2, 3, 4};
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(port, b, 4, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    EXPECT_EQ(written, 0u);
}

TEST_F(PortTest, DataFFArrivesAsOneByte) {
    setTimeouts(0, 0, 500);
    send({0xFF, 0x00, 0xFF, 0xFF, 0x41});
    uint8_t buf[5];
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(port, buf, 5, &count, nullptr));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(Bytes(buf, buf + count), (Bytes{0xFF, 0x00, 0xFF, 0xFF, 0x41}));
}

TEST_F(PortTest, LineErrorFailsTransfersUntilTheErrorStateIsCleared) {
    setTimeouts(0, 0, 200, 2, 200);
    // A parity error as the tty marks it: a pty cannot make one.
    seam::Faults faults;
    faults.rawInput = {0x31, 0xFF, 0x00, 0x00};
    seam::Inject(faults);
    uint8_t buf[4];
    DWORD count = 99;
    OVERLAPPED ov{};
    auto start = Clock::now();
    EXPECT_FALSE(ReadFile(port, buf, 4, &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_LT(MsSince(start), 150.0);
    DWORD again = 0;
    EXPECT_FALSE(GetOverlappedResult(port, &ov, &again, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

    // Until cleared, every transfer fails at once.
    send({0x42});
    EXPECT_FALSE(ReadFile(port, buf, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(WriteFile(port, buf, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(count, 0u);

    DWORD errors = 0;
    EXPECT_TRUE(ClearCommError(port, &errors, nullptr));
    EXPECT_EQ(errors, CE_FRAME | CE_RXPARITY);
    EXPECT_TRUE(ClearCommError(port, &errors, nullptr));
    EXPECT_EQ(errors, 0u);

    // The good byte before the marked one and the one after are kept.
    EXPECT_TRUE(ReadFile(port, buf, 2, &count, nullptr));
    EXPECT_EQ(Bytes(buf, buf + count), (Bytes{0x31, 0x42}));
    EXPECT_TRUE(WriteFile(port, buf, 1, &count, nullptr));
    EXPECT_EQ(count, 1u);
}

TEST_F(PortTest, InQueueCountsBytesWaitingAndPurgeEmptiesIt) {
    send({1, 2, 3, 4, 5, 6, 7});
    COMSTAT stat{};
    auto deadline = Clock::now() + milliseconds(1000);
    while (stat.cbInQue < 7 && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(1));
        ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    }
    EXPECT_EQ(stat.cbInQue, 7u);
    EXPECT_EQ(stat.cbOutQue, 0u);
    setTimeouts(0, 0, 100);
    uint8_t buf[3];
    DWORD count = 0;
    ASSERT_TRUE(ReadFile(port, buf, 3, &count, nullptr));
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 4u);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT));
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(PortTest, PurgeForgetsAnFFCutAtTheEndOfTheQueue) {
    seam::Faults faults;
    faults.rawInput = {0x10, 0xFF};
    seam::Inject(faults);
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 1u);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
    // Were the FF still pending, this 00 would start a line-error marking.
    send({0x00, 0x20});
    setTimeouts(0, 0, 500);
    uint8_t buf[2];
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(port, buf, 2, &count, nullptr));
    EXPECT_EQ(Bytes(buf, buf + count), (Bytes{0x00, 0x20}));
}

TEST_F(PortTest, TransfersOnAClosedPortFailWithAnInvalidHandle) {
    HANDLE closed = port;
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    uint8_t b[1] = {0};
    DWORD count = 99;
    OVERLAPPED ov{};
    EXPECT_FALSE(ReadFile(closed, b, 1, &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(closed, b, 1, &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(PurgeComm(closed, PURGE_RXCLEAR));
    EXPECT_FALSE(ClearCommError(closed, nullptr, nullptr));
    COMMTIMEOUTS t{};
    EXPECT_EQ(SetCommTimeouts(closed, &t), FALSE);
    EXPECT_EQ(SetCommTimeouts(INVALID_HANDLE_VALUE, &t), FALSE);
}

}  // namespace
}  // namespace orv::win::test
