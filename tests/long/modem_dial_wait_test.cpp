// Dials that run out their whole wait: 10 s each.
#include <time.h>

#include <iostream>
#include <thread>

#include "e2e/modem_fixture.h"
#include "link/link_state.h"

namespace orv::test {
namespace {

std::chrono::nanoseconds ProcessCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

struct MissedDialCase {
    const char *name;
    bool neverEchoes;
    sim::DialOutcome outcome;
};

void PrintTo(const MissedDialCase &c, std::ostream *os) { *os << c.name; }

class MissedDial : public ModemLinkTest, public ::testing::WithParamInterface<MissedDialCase> {};

// The answer is not recognised, so the dial's whole wait (9 asks for 10) runs out.
TEST_P(MissedDial, FailsWhenTheDialWaitRunsOut) {
    sim::ModemOptions options;
    options.neverEchoes = GetParam().neverEchoes;
    options.dialOutcome = GetParam().outcome;
    startModem(options);
    const int threads = ThreadCount();
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 9), 0);
    const auto ended = Clock::now();
    EXPECT_EQ(ThreadCount(), threads);
    const auto lines = modem_->lines();
    ASSERT_EQ(modem_->lineTexts(), scriptAndDial());
    const auto waited = ended - lines.back().at;
    EXPECT_GE(waited, 10000ms - 10ms);
    EXPECT_LT(waited, 10000ms + 1500ms);
    EXPECT_EQ(modem_->callsConnected(), GetParam().neverEchoes ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MissedDial,
    ::testing::Values(MissedDialCase{"ConnectWithTheEchoOff", true, sim::DialOutcome::Connect},
                      MissedDialCase{"Busy", false, sim::DialOutcome::Busy}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModemLinkTest, ASilentDialWaitsItsTenSecondsWithAlmostNoCpu) {
    sim::ModemOptions options;
    options.dialOutcome = sim::DialOutcome::Silent;
    startModem(options);
    Clock::time_point dialAt{};
    std::chrono::nanoseconds cpuAtDial{};
    std::thread watch([&] {
        if (!modem_->waitForLines(kScript.size() + 1, 15s)) return;
        cpuAtDial = ProcessCpuTime();
        dialAt = Clock::now();
    });
    ASSERT_EQ(OrvOpenComm(kModemPort, 1, kPhoneNumber, 10), 0);
    const auto ended = Clock::now();
    const auto cpu = ProcessCpuTime() - cpuAtDial;
    watch.join();
    ASSERT_NE(dialAt, Clock::time_point{});
    EXPECT_GE(ended - dialAt, 10000ms - 10ms);
    EXPECT_LT(ended - dialAt, 10000ms + 1500ms);
    const auto cpuMs = std::chrono::duration_cast<std::chrono::microseconds>(cpu).count() / 1000.0;
    std::cout << "CPU time of the whole process during the 10 s dial wait: " << cpuMs << " ms\n";
    RecordProperty("dial_wait_cpu_us",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(cpu).count()));
    EXPECT_LT(cpu, 300ms);  // blocking waits, no polling
}

}  // namespace
}  // namespace orv::test
