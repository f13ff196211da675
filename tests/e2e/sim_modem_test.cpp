// The modem simulator alone, driven through the pseudo-terminal's slave end
// with plain POSIX I/O, as a terminal program would drive a modem.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "sim/modem_sim.h"
#include "sim/sim_line.h"

namespace {

using namespace std::chrono_literals;
using orv::sim::Clock;
using orv::sim::DialOutcome;
using orv::sim::ModemOptions;
using orv::sim::ModemSimulator;
using orv::sim::SimLine;

class Terminal {
public:
    explicit Terminal(const std::string &path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Terminal() { ::close(fd_); }
    bool ok() const { return fd_ >= 0; }

    void send(const std::string &text) {
        ASSERT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Reads until `expected` has arrived in full or the deadline passes.
    std::string readUntil(const std::string &expected, std::chrono::milliseconds within = 2s) {
        std::string got;
        const auto deadline = Clock::now() + within;
        while (got.find(expected) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
    // Reads until nothing more has come for `quiet`.
    std::string readUntilQuiet(std::chrono::milliseconds quiet) {
        std::string got;
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, static_cast<int>(quiet.count())) > 0) {
            char buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int fd_ = -1;
};

class ModemSim : public ::testing::Test {
protected:
    void start(ModemOptions options = {}) {
        modem_ = std::make_unique<ModemSimulator>(std::move(options));
        modem_->start(line_);
        terminal_ = std::make_unique<Terminal>(line_.slavePath());
        ASSERT_TRUE(terminal_->ok());
    }
    // Sends a command line and returns all that came back for it. The
    // simulator records a line only after its answer is written, so once it
    // is recorded only the kernel's hand-over is left to wait for.
    std::string exchange(const std::string &command) {
        const std::size_t before = modem_->lines().size();
        terminal_->send(command + "\r");
        EXPECT_TRUE(modem_->waitForLines(before + 1, 2s));
        return terminal_->readUntilQuiet(50ms);
    }

    SimLine line_;
    std::unique_ptr<ModemSimulator> modem_;
    std::unique_ptr<Terminal> terminal_;
};

struct CommandCase {
    const char *command;
    const char *reply;
};

TEST_F(ModemSim, AnswersTheScriptAndCommonCommandsWithOkBehindTheirEcho) {
    start();
    const CommandCase cases[] = {
        {"ATQ0", "ATQ0\r\r\nOK\r\n"},   {"ATE1", "ATE1\r\r\nOK\r\n"},
        {"AT&F", "AT&F\r\r\nOK\r\n"},   {"ATN1", "ATN1\r\r\nOK\r\n"},
        {"AT%E1", "AT%E1\r\r\nOK\r\n"}, {"ATH0", "ATH0\r\r\nOK\r\n"},
        {"ATS0=1", "ATS0=1\r\r\nOK\r\n"}, {"AT", "AT\r\r\nOK\r\n"},
        {"ATZ", "ATZ\r\r\nOK\r\n"},     {"at&f", "at&f\r\r\nOK\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(exchange(c.command), c.reply);
    }
}

TEST_F(ModemSim, RemembersRegisterValues) {
    start();
    EXPECT_EQ(exchange("ATS0?"), "ATS0?\r\r\n0\r\n\r\nOK\r\n");
    EXPECT_EQ(exchange("ATS0=1"), "ATS0=1\r\r\nOK\r\n");
    EXPECT_EQ(exchange("ATS0?"), "ATS0?\r\r\n1\r\n\r\nOK\r\n");
}

TEST_F(ModemSim, AnswersErrorToUnknownAndToRefusedCommands) {
    ModemOptions options;
    options.refused = {"ATN1"};
    start(options);
    const CommandCase cases[] = {
        {"ATN1", "ATN1\r\r\nERROR\r\n"}, {"ATJ", "ATJ\r\r\nERROR\r\n"},
        {"AT&Y", "AT&Y\r\r\nERROR\r\n"}, {"ATE5", "ATE5\r\r\nERROR\r\n"},
        {"ATE1", "ATE1\r\r\nOK\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(exchange(c.command), c.reply);
    }
}

TEST_F(ModemSim, EchoOffAndQuietModeChangeWhatComesBack) {
    start();
    EXPECT_EQ(exchange("ATE0"), "ATE0\r\r\nOK\r\n");  // typed while the echo was on
    EXPECT_EQ(exchange("AT"), "\r\nOK\r\n");
    EXPECT_EQ(exchange("ATQ1"), "");
    EXPECT_EQ(exchange("ATN1"), "");
    EXPECT_EQ(exchange("ATQ0"), "\r\nOK\r\n");
    EXPECT_EQ(exchange("AT&F"), "\r\nOK\r\n");  // the factory state has the echo on
    EXPECT_EQ(exchange("AT"), "AT\r\r\nOK\r\n");
}

TEST_F(ModemSim, StartsWithTheEchoOffWhenToldTo) {
    ModemOptions options;
    options.echo = false;
    start(options);
    EXPECT_EQ(exchange("ATQ0"), "\r\nOK\r\n");
}

TEST_F(ModemSim, EchoesCharactersAsTheyArriveBeforeTheLineEnds) {
    start();
    terminal_->send("AT");
    EXPECT_EQ(terminal_->readUntil("AT"), "AT");
    terminal_->send("Q0\r");
    EXPECT_EQ(terminal_->readUntil("OK\r\n"), "Q0\r\r\nOK\r\n");
}

TEST_F(ModemSim, StaysSilentWhenToldTo) {
    ModemOptions options;
    options.silent = true;
    start(options);
    EXPECT_EQ(exchange("ATQ0"), "");
    EXPECT_EQ(exchange("ATD5551234"), "");
    EXPECT_EQ(modem_->lineTexts(), (std::vector<std::string>{"ATQ0", "ATD5551234"}));
}

TEST_F(ModemSim, WithholdsTheResultOfChosenCommandsButStillEchoes) {
    ModemOptions options;
    options.silentFor = {"ATH0"};
    start(options);
    EXPECT_EQ(exchange("ATH0"), "ATH0\r");
    EXPECT_EQ(exchange("ATH1"), "ATH1\r\r\nOK\r\n");
}

TEST_F(ModemSim, DelaysEveryAnswerWhenAskedTo) {
    ModemOptions options;
    options.answerDelay = 200ms;
    start(options);
    const auto sent = Clock::now();
    terminal_->send("AT\r");
    EXPECT_EQ(terminal_->readUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    const auto took = Clock::now() - sent;
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 200ms + 500ms);
}

TEST_F(ModemSim, SendsALongBannerBeforeTheResult) {
    ModemOptions options;
    options.bannerBytes = 300;
    start(options);
    terminal_->send("ATQ0\r");
    const std::string reply = terminal_->readUntil("\r\nOK\r\n");
    ASSERT_EQ(reply.size(), 5u + 300u + 6u);
    EXPECT_EQ(reply.substr(0, 5), "ATQ0\r");
    EXPECT_EQ(reply.substr(305), "\r\nOK\r\n");
    EXPECT_EQ(reply.substr(5, 300).find("OK"), std::string::npos);
}

TEST_F(ModemSim, SplitsTheResultFromItsLineEndWithAGap) {
    ModemOptions options;
    options.splitGap = 300ms;
    options.crLfBeforeResult = false;
    options.echo = false;
    start(options);
    terminal_->send("AT\r");
    EXPECT_EQ(terminal_->readUntil("OK"), "OK");
    const auto first = Clock::now();
    EXPECT_EQ(terminal_->readUntil("\r\n"), "\r\n");
    EXPECT_GE(Clock::now() - first, 250ms);
}

TEST_F(ModemSim, RecordsEveryLineWithTheTimeItsCrArrived) {
    start();
    const auto before = Clock::now();
    exchange("ATQ0");
    const auto between = Clock::now();
    exchange("ATE1");
    const auto after = Clock::now();
    const auto lines = modem_->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "ATQ0");
    EXPECT_EQ(lines[1].text, "ATE1");
    EXPECT_GE(lines[0].at, before);
    EXPECT_LE(lines[0].answered, between);
    EXPECT_GE(lines[1].at, between);
    EXPECT_LE(lines[1].answered, after);
    EXPECT_LE(lines[0].at, lines[0].answered);
}

struct DialCase {
    DialOutcome outcome;
    const char *reply;
};

TEST_F(ModemSim, AnswersTheDialAsConfigured) {
    const DialCase cases[] = {
        {DialOutcome::Busy, "ATD123\r\r\nBUSY\r\n"},
        {DialOutcome::NoCarrier, "ATD123\r\r\nNO CARRIER\r\n"},
        {DialOutcome::Silent, "ATD123\r"},
    };
    start();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        modem_->configure([&](ModemOptions &o) { o.dialOutcome = c.outcome; });
        terminal_->send("ATD123\r");
        EXPECT_EQ(terminal_->readUntil(c.reply), c.reply);
    }
    EXPECT_EQ(modem_->callsConnected(), 0);
}

TEST_F(ModemSim, ConnectsAfterTheDialDelayThenHandsTheLineToDataMode) {
    ModemOptions options;
    options.dialDelay = 300ms;
    options.connectSpeed = 19200;
    // Stands in for the device: answers one message, then the call ends.
    options.dataMode = [](SimLine &line) {
        uint8_t buf[5];
        if (line.readExact(buf, Clock::now() + 5s) == sizeof buf) {
            const std::string reply = "got " + std::string(buf, buf + sizeof buf);
            line.writeAll(std::span(reinterpret_cast<const uint8_t *>(reply.data()), reply.size()));
        }
    };
    start(options);
    const auto sent = Clock::now();
    terminal_->send("ATD5551234\r");
    EXPECT_EQ(terminal_->readUntil("CONNECT 19200\r\n"), "ATD5551234\r\r\nCONNECT 19200\r\n");
    EXPECT_GE(Clock::now() - sent, 300ms);
    ASSERT_TRUE(modem_->waitForCalls(1, 2s));
    terminal_->send("ATQ0\r");  // in data mode this is payload, not a command
    EXPECT_EQ(terminal_->readUntil("got ATQ0\r"), "got ATQ0\r");
    // The call is over: commands again.
    EXPECT_EQ(exchange("AT"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(modem_->lineTexts(), (std::vector<std::string>{"ATD5551234", "AT"}));
}

TEST_F(ModemSim, StopEndsTheServingThreadEvenInDataMode) {
    ModemOptions options;
    options.dialDelay = 0ms;
    std::atomic<bool> left{false};
    options.dataMode = [&](SimLine &line) {
        uint8_t buf[1];
        while (!line.stopped()) line.readSome(buf, Clock::now() + 10s);
        left = true;
    };
    start(options);
    terminal_->send("ATD1\r");
    ASSERT_TRUE(modem_->waitForCalls(1, 2s));
    const auto asked = Clock::now();
    modem_->stop();
    EXPECT_TRUE(left);
    EXPECT_LT(Clock::now() - asked, 1s);
}

}  // namespace
