// The CPU that waiting costs: a silent device's three attempts (acknowledgement
// waits and the pauses before repeats) and a silent modem's dial wait.
#include <string>
#include <thread>
#include <vector>

#include "bench_link.h"
#include "rows.h"
#include "sim/modem_sim.h"

namespace orv::bench {

namespace {

using namespace std::chrono_literals;

constexpr double kAllowedCpuMsPerSecond = 10;
constexpr uint32_t kDialWaitSeconds = 10;
constexpr std::size_t kScriptLines = 8;  // the initialisation before the dial

struct Spent {
    double wallS = 0;
    double processCpuMs = 0;
    double threadCpuMs = 0;  // the caller's thread alone: the library's share
};

Row CpuRow(const std::string &what, const Spent &s) {
    const double perSecond = s.processCpuMs / s.wallS;
    return {what + " (" + Fixed(s.wallS, 2) + " s)",
            Fixed(s.processCpuMs, 1) + " ms (" + Fixed(perSecond, 2) + " ms/s)",
            "< 10 ms CPU per s waited",
            "caller thread " + Fixed(s.threadCpuMs, 1) + " ms; " +
                (perSecond < kAllowedCpuMsPerSecond ? "met" : "NOT met")};
}

Row SilentDeviceRow(BenchEnv &env) {
    DeviceLink link(env, sim::DeviceOptions{}, 9600);
    link.device.addFault(
        sim::Fault::noAnswer(sim::FaultTarget::Ack).times(sim::FaultSelector::kEvery));
    uint16_t more = 0;
    uint32_t value = 0;
    const auto start = Clock::now();
    const double process = ProcessCpuMs(), thread = ThreadCpuMs();
    const int32_t r = OrvSendCommand(0x10, 0, 5, &more, &value, 500);
    Spent s{MsBetween(start, Clock::now()) / 1000, ProcessCpuMs() - process,
            ThreadCpuMs() - thread};
    if (r != 0) return {"Silent device: OrvSendCommand", "UNEXPECTED SUCCESS", "", ""};
    return CpuRow("CPU, silent device, 3 attempts", s);
}

// The CPU from the moment the dial line has reached the modem until the
// open gives up.
Row SilentModemRow(BenchEnv &env) {
    sim::SimLine line;
    env.mapPort(kModemPort, line.slavePath(), "9600,n,8,1");
    sim::ModemOptions options;
    options.dialOutcome = sim::DialOutcome::Silent;
    sim::ModemSimulator modem(options);
    modem.start(line);
    Clock::time_point dialAt{};
    double processAtDial = 0;
    std::thread watch([&] {
        if (!modem.waitForLines(kScriptLines + 1, 30000ms)) return;
        processAtDial = ProcessCpuMs();
        dialAt = Clock::now();
    });
    const double threadAtStart = ThreadCpuMs();
    const int32_t r = OrvOpenComm(kModemPort, 1, "5551234", kDialWaitSeconds);
    const auto end = Clock::now();
    const double processAtEnd = ProcessCpuMs(), threadAtEnd = ThreadCpuMs();
    watch.join();
    OrvCloseComm();
    modem.stop();
    if (r != 0 || dialAt == Clock::time_point{})
        return {"Silent modem: OrvOpenComm", "UNEXPECTED", "", ""};
    // The caller's thread over the whole open: the script is short next to the wait.
    Spent s{MsBetween(dialAt, end) / 1000, processAtEnd - processAtDial,
            threadAtEnd - threadAtStart};
    return CpuRow("CPU, silent modem, dial wait", s);
}

}  // namespace

std::vector<Row> WaitRows(BenchEnv &env) {
    std::vector<Row> rows{SilentDeviceRow(env)};
    PrintRows({rows.back()});
    rows.push_back(SilentModemRow(env));
    PrintRows({rows.back()});
    return rows;
}

}  // namespace orv::bench
