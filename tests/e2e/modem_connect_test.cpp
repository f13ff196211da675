// Opening a link through a modem: the AT dialogue on the wire, its time
// limits, and what is left behind, against the modem simulator.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <thread>

#include "link/link_state.h"
#include "modem_fixture.h"
#include "platform/posix/test_seam.h"

namespace orv::test {
namespace {

TEST_F(ModemLinkTest, GoodConnectSendsTheScriptAndTheDialEachAfterThePreviousAnswer) {
    startModem();
    const int threads = ThreadCount();
    const auto start = Clock::now();
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    const auto took = Clock::now() - start;
    EXPECT_EQ(ThreadCount(), threads);

    const auto lines = modem_->lines();
    ASSERT_EQ(modem_->lineTexts(), scriptAndDial());
    for (std::size_t i = 1; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].text);
        ASSERT_NE(lines[i - 1].answered, Clock::time_point{});
        EXPECT_GE(lines[i].at, lines[i - 1].answered);
    }
    // The call settles for 1 s after the modem's answer before the open returns.
    EXPECT_GE(Clock::now() - lines.back().answered, 1000ms);
    EXPECT_EQ(modem_->callsConnected(), 1);
    EXPECT_LE(std::time(nullptr) - linkState.connectedAt, 1);
    EXPECT_LT(took, 5s);
    std::cout << "good connect took " << Ms(took).count() << " ms (1000 ms of it the settle after CONNECT)\n";
    RecordProperty("connect_ms", static_cast<int>(Ms(took).count()));
}

TEST_F(ModemLinkTest, ConnectsThroughLongOutputBeforeEveryAnswer) {
    sim::ModemOptions options;
    options.bannerBytes = 300;  // each answer brings more than one read takes
    startModem(options);
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    EXPECT_EQ(modem_->lineTexts(), scriptAndDial());
}

struct RefusedCase {
    const char *name;
    std::size_t step;  // index in the script
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

class RefusedStep : public ModemLinkTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedStep, FailsAboutOneSecondAfterItAndSendsNothingMore) {
    const std::string refused = kScript[GetParam().step];
    sim::ModemOptions options;
    options.refused = {refused};
    startModem(options);
    const int threads = ThreadCount();
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 0);
    const auto ended = Clock::now();
    EXPECT_EQ(ThreadCount(), threads);

    const auto lines = modem_->lines();
    const std::vector<std::string> expected(kScript.begin(), kScript.begin() + GetParam().step + 1);
    ASSERT_EQ(modem_->lineTexts(), expected);
    const auto waited = ended - lines.back().at;
    EXPECT_GE(waited, 990ms);
    EXPECT_LT(waited, 1000ms + 400ms);
    EXPECT_EQ(OrvCloseComm(), 1);  // nothing open: at once, no hold
}

INSTANTIATE_TEST_SUITE_P(Script, RefusedStep,
                         ::testing::Values(RefusedCase{"ATQ0", 0}, RefusedCase{"ATN1", 4},
                                           RefusedCase{"ATS0", 7}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModemLinkTest, SilentModemFailsAboutOneSecondAfterTheFirstCommand) {
    sim::ModemOptions options;
    options.silent = true;
    startModem(options);
    const auto start = Clock::now();
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 0);
    const auto took = Clock::now() - start;
    EXPECT_EQ(modem_->lineTexts(), std::vector<std::string>{"ATQ0"});
    EXPECT_GE(took, 1000ms);
    EXPECT_LT(took, 1000ms + 500ms);
}

struct DialWaitCase {
    uint32_t requested;
    uint32_t used;
};

void PrintTo(const DialWaitCase &c, std::ostream *os) { *os << c.requested; }

class DialWait : public ModemLinkTest, public ::testing::WithParamInterface<DialWaitCase> {};

// Taken at the start of the connect, so a connect that fails at once shows it.
TEST_P(DialWait, IsTheRequestFromTenToSixtyElseTen) {
    sim::ModemOptions options;
    options.refused = {"ATQ0"};
    startModem(options);
    linkState.dialWaitSeconds = 0;
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, GetParam().requested), 0);
    EXPECT_EQ(linkState.dialWaitSeconds, GetParam().used);
}

INSTANTIATE_TEST_SUITE_P(Requests, DialWait,
                         ::testing::Values(DialWaitCase{9, 10}, DialWaitCase{10, 10},
                                           DialWaitCase{60, 60}, DialWaitCase{61, 10},
                                           DialWaitCase{0, 10}, DialWaitCase{0xFFFFFFFFu, 10}),
                         [](const auto &info) { return std::to_string(info.param.requested); });

TEST_F(ModemLinkTest, ReceiveFailSetByAnotherProcessEndsTheDialAtOnce) {
    sim::ModemOptions options;
    options.dialOutcome = sim::DialOutcome::Silent;
    startModem(options);
    const int threads = ThreadCount();
    Clock::time_point asked{};
    int orvctlExit = -1;
    std::thread other([&] {
        if (!modem_->waitForLines(kScript.size() + 1, 15s)) return;
        asked = Clock::now();
        orvctlExit = RunOrvctl({"signal", "ReceiveFail"});
    });
    const auto start = Clock::now();
    const int32_t opened = OrvOpenComm(kModemPort, 1, kPhoneNumber, 60);
    const auto ended = Clock::now();
    other.join();
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(orvctlExit, 0);
    ASSERT_NE(asked, Clock::time_point{});
    EXPECT_LT(ended - asked, 500ms);  // starting orvctl included
    EXPECT_LT(ended - start, 10s);
    EXPECT_EQ(ThreadCount(), threads);
    // The failed connect released its events: nobody holds them now.
    EXPECT_EQ(RunOrvctl({"signal", "ReceiveFail"}), 1);
}

TEST_F(ModemLinkTest, TheModemEventsExistWhileTheLinkIsOpen) {
    startModem();
    EXPECT_EQ(RunOrvctl({"signal", "ReceiveFail"}), 1);
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    for (const char *name : {"Send", "Receive", "ReceiveOK", "ReceiveFail"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(RunOrvctl({"signal", name}), 0);
    }
    // Nothing waits on them once connected: the signals change nothing.
    ASSERT_EQ(OrvCloseComm(), 1);
    for (const char *name : {"Send", "Receive", "ReceiveOK", "ReceiveFail"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(RunOrvctl({"signal", name}), 1);
    }
}

// The dialling process: this program again, started in that role alone. A
// fork() child of this threaded process could not safely run the library
// (nor under the sanitizers), so it is a program of its own.
TEST(ModemDialHelper, DISABLED_DialsUntilItIsKilled) {
    OrvOpenComm(kModemPort, 1, kPhoneNumber, 60);
    std::_Exit(0);
}

// Starts this program as the dialling process; its process id, or -1.
pid_t StartDialHelper() {
    std::string program = std::filesystem::read_symlink("/proc/self/exe");
    std::string all = "--gtest_also_run_disabled_tests";
    std::string filter = "--gtest_filter=ModemDialHelper.*";
    char *argv[] = {program.data(), all.data(), filter.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

TEST_F(ModemLinkTest, AProcessKilledMidDialLeavesNothingThatBreaksTheNextConnect) {
    sim::ModemOptions options;
    options.dialOutcome = sim::DialOutcome::Silent;
    startModem(options);
    const pid_t child = StartDialHelper();
    ASSERT_GT(child, 0);
    const bool dialling = modem_->waitForLines(kScript.size() + 1, 15s);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(dialling);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(RunOrvctl({"signal", "ReceiveOK"}), 1);  // died with its holder

    modem_->configure([](sim::ModemOptions &o) { o.dialOutcome = sim::DialOutcome::Connect; });
    const auto start = Clock::now();
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 1);
    EXPECT_LT(Clock::now() - start, 5s);
    auto texts = modem_->lineTexts();
    texts.erase(texts.begin(), texts.begin() + static_cast<long>(kScript.size() + 1));
    EXPECT_EQ(texts, scriptAndDial());
}

TEST_F(ModemLinkTest, EventsThatCannotBeCreatedFailTheConnectBeforeAnyCommand) {
    startModem();
    win::seam::Faults faults;
    faults.failCreateEvent = true;
    win::seam::Inject(faults);
    const auto start = Clock::now();
    EXPECT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 0);
    EXPECT_LT(Clock::now() - start, 200ms);
    win::seam::Reset();
    EXPECT_FALSE(modem_->waitForLines(1, 200ms));
    EXPECT_EQ(linkState.modemIo.hEvent, nullptr);
    EXPECT_EQ(linkState.modemSpareIo.hEvent, nullptr);
}

}  // namespace
}  // namespace orv::test
