// One AT command at a time: SendAtCommand and AwaitModemResponse on an open
// port, with the test itself speaking for the modem on the other end.
#include <future>
#include <string>
#include <thread>

#include "link/link_state.h"
#include "modem/at_command.h"
#include "modem/modem_events.h"
#include "modem_fixture.h"
#include "platform/posix/test_seam.h"

namespace orv::test {
namespace {

class AtExchange : public ModemLinkTest {
protected:
    void SetUp() override {
        ModemLinkTest::SetUp();
        ASSERT_EQ(OrvOpenComm(kModemPort, 0, nullptr, 0), 1);
        ASSERT_TRUE(CreateModemEvents());
        port_ = linkState.portHandle;
        // A checking runtime (ThreadSanitizer) starts a helper thread of its
        // own with the first thread; let that happen before the count.
        std::thread([] {}).join();
        threads_ = ThreadCount();
    }
    void TearDown() override {
        ReleaseModemEvents();
        win::seam::Reset();
        ModemLinkTest::TearDown();
    }

    // What the host wrote, up to and with its CR.
    std::string hostLine() {
        std::string got;
        uint8_t byte = 0;
        while (line_.readExact(std::span(&byte, 1), Clock::now() + 2s) == 1) {
            got += static_cast<char>(byte);
            if (byte == '\r') break;
        }
        return got;
    }
    void modemSays(const std::string &text) {
        ASSERT_TRUE(line_.writeAll(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size())));
    }
    // Sends the command and takes its line off the wire.
    void send(const std::string &command) {
        ASSERT_EQ(SendAtCommand(port_, command.c_str()), 1);
        ASSERT_EQ(hostLine(), command + "\r");
    }
    std::future<int32_t> awaitAnswer(const std::string &command) {
        return std::async(std::launch::async,
                          [this, command] { return AwaitModemResponse(port_, command.c_str()); });
    }
    // The waiting thread and its watcher are both running.
    void watcherRunning() {
        const auto deadline = Clock::now() + 2s;
        while (ThreadCount() < threads_ + 2 && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(ThreadCount(), threads_ + 2);
    }
    // Until the port has at least n bytes queued for reading.
    void queuedAtLeast(DWORD n) {
        const auto deadline = Clock::now() + 2s;
        COMSTAT status{};
        DWORD errors = 0;
        while (ClearCommError(port_, &errors, &status) && status.cbInQue < n &&
               Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(status.cbInQue, n);
    }
    // Every outcome ends the watcher before the wait returns.
    void noWatcherLeft() { EXPECT_EQ(ThreadCount(), threads_); }

    HANDLE port_ = nullptr;
    int threads_ = 0;
};

struct LineCase {
    std::string command;
    std::string wire;
};

TEST_F(AtExchange, WritesTheTextAndOneCarriageReturn) {
    const LineCase cases[] = {
        {"ATQ0", std::string("\x41\x54\x51\x30\x0D")},
        {"ATD5551234", "ATD5551234\r"},
        {std::string(254, 'A'), std::string(254, 'A') + "\r"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command.size());
        ASSERT_EQ(SendAtCommand(port_, c.command.c_str()), 1);
        std::string wire(c.wire.size(), '\0');
        ASSERT_EQ(line_.readExact(std::span(reinterpret_cast<uint8_t *>(wire.data()), wire.size()),
                                  Clock::now() + 2s),
                  wire.size());
        EXPECT_EQ(wire, c.wire);
    }
}

TEST_F(AtExchange, ACommandTooLongForTheLineIsRefusedBeforeAnythingIsSent) {
    EXPECT_EQ(SendAtCommand(port_, std::string(255, 'A').c_str()), 0);
    send("AT");  // the first bytes on the wire are this command's
}

TEST_F(AtExchange, OkWhoseCrComesLaterEndsTheWaitOnlyAfterTheCr) {
    send("AT");
    auto answer = awaitAnswer("AT");
    watcherRunning();
    modemSays("OK");
    std::this_thread::sleep_for(300ms);  // the modem's own pause
    const auto crAt = Clock::now();
    modemSays("\r\n");
    EXPECT_EQ(answer.get(), 1);
    EXPECT_GE(Clock::now(), crAt);
    noWatcherLeft();
}

TEST_F(AtExchange, AnOkInLowerOrMixedCaseIsNoSuccess) {
    for (const char *reply : {"\r\nok\r\n", "\r\nOk\r\n", "\r\noK\r\n"}) {
        SCOPED_TRACE(reply);
        send("AT");
        const auto start = Clock::now();
        auto answer = awaitAnswer("AT");
        modemSays(reply);
        EXPECT_EQ(answer.get(), 0);
        EXPECT_GE(Clock::now() - start, 1000ms);
        noWatcherLeft();
    }
}

struct ConnectCase {
    const char *command;
    const char *reply;
    int32_t result;
};

TEST_F(AtExchange, ConnectAnswersOnlyADialWhoseEchoBeginsTheText) {
    linkState.dialWaitSeconds = 1;  // a missed CONNECT costs 1 s, not 10
    const ConnectCase cases[] = {
        {"ATD1", "ATD1\r\r\nCONNECT 9600\r\n", 1},
        {"atd1", "atd1\r\r\nCONNECT 9600\r\n", 1},
        {"ATD1", "\r\nCONNECT 9600\r\n", 0},
        {"ATH0", "ATH0\r\r\nCONNECT 9600\r\n", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        send(c.command);
        auto answer = awaitAnswer(c.command);
        modemSays(c.reply);
        EXPECT_EQ(answer.get(), c.result);
        noWatcherLeft();
    }
}

struct SliceCase {
    const char *command;
    uint32_t dialWaitSeconds;
    std::chrono::milliseconds limit;
};

TEST_F(AtExchange, ASilentModemIsWaitedForTheCommandsSliceLimit) {
    const SliceCase cases[] = {
        {"ATH0", 3, 1000ms},  // 20 slices
        {"ATD1", 2, 2000ms},  // dialWaitSeconds x 20 slices
        {"atD1", 2, 2000ms},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        linkState.dialWaitSeconds = c.dialWaitSeconds;
        send(c.command);
        const auto start = Clock::now();
        EXPECT_EQ(AwaitModemResponse(port_, c.command), 0);
        const auto took = Clock::now() - start;
        EXPECT_GE(took, c.limit);
        EXPECT_LT(took, c.limit + c.limit / 2);
        noWatcherLeft();
    }
}

TEST_F(AtExchange, ReadModemBytesTakesAtMost256QueuedBytesAtATime) {
    send("AT");
    modemSays(std::string(400, 'i'));
    queuedAtLeast(400);
    std::array<uint8_t, kModemReadArea> area{};
    EXPECT_EQ(ReadModemBytes(port_, area), 256u);
    EXPECT_EQ(ReadModemBytes(port_, area), 144u);
    EXPECT_EQ(ReadModemBytes(port_, area), 0u);  // nothing queued: no wait
}

TEST_F(AtExchange, AnAnswerBehindMoreThan256QueuedBytesIsSeen) {
    send("ATQ0");
    modemSays("ATQ0\r" + std::string(389, 'i') + "\r\nOK\r\n");
    queuedAtLeast(400);
    EXPECT_EQ(awaitAnswer("ATQ0").get(), 1);
    noWatcherLeft();
}

TEST_F(AtExchange, CharactersQueuedBeforeTheTransmitEmptyReportAreKept) {
    send("AT");
    modemSays("\r\nO");  // here before the watcher has had any report
    queuedAtLeast(3);
    auto answer = awaitAnswer("AT");
    watcherRunning();
    modemSays("K\r\n");  // "OK" only with the early "O"
    EXPECT_EQ(answer.get(), 1);
    noWatcherLeft();
}

TEST_F(AtExchange, ReceiveFailEndsTheWaitAtOnce) {
    send("ATD1");
    linkState.dialWaitSeconds = 60;
    auto answer = awaitAnswer("ATD1");
    watcherRunning();
    const auto setAt = Clock::now();
    ASSERT_TRUE(SetEvent(linkState.responseFailEvent));
    EXPECT_EQ(answer.get(), 0);
    EXPECT_LT(Clock::now() - setAt, 150ms);
    noWatcherLeft();
}

TEST_F(AtExchange, ALeftOverOkSignalIsDiscardedBeforeTheWatcherStarts) {
    ASSERT_TRUE(SetEvent(linkState.responseOkEvent));
    send("AT");
    const auto start = Clock::now();
    EXPECT_EQ(AwaitModemResponse(port_, "AT"), 0);  // the modem never answered
    EXPECT_GE(Clock::now() - start, 1000ms);
}

TEST_F(AtExchange, AWatcherThatCannotStartFailsTheWaitAtOnce) {
    win::seam::Faults faults;
    faults.failCreateThread = true;
    win::seam::Inject(faults);
    send("AT");
    const auto start = Clock::now();
    EXPECT_EQ(AwaitModemResponse(port_, "AT"), 0);
    EXPECT_LT(Clock::now() - start, 50ms);
}

TEST_F(AtExchange, AShortWriteFailsTheCommand) {
    win::seam::Faults faults;
    faults.writeCap = 3;
    win::seam::Inject(faults);
    EXPECT_EQ(SendAtCommand(port_, "ATQ0"), 0);
}

}  // namespace
}  // namespace orv::test
