// OrvSendCommand latency against its floor.
#include <string>
#include <vector>

#include "bench_link.h"
#include "rows.h"

namespace orv::bench {

namespace {

constexpr int kWarmUp = 50;
constexpr uint32_t kReplyTimeoutMs = 500;
constexpr double kAllowedGapMs = 0.15;

// Milliseconds per exchange; empty when one failed.
std::vector<double> TimeExchanges(int count) {
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count + kWarmUp; ++i) {
        uint16_t more = 0;
        uint32_t value = 0;
        const auto start = Clock::now();
        const int32_t ok = OrvSendCommand(0x10, 0, static_cast<uint32_t>(i), &more, &value,
                                          kReplyTimeoutMs);
        const auto end = Clock::now();
        if (ok != 1 || value != static_cast<uint32_t>(i)) return {};
        if (i >= kWarmUp) ms.push_back(MsBetween(start, end));
    }
    return ms;
}

std::string Gap(double ms, double floorMs) {
    return Signed(ms - floorMs, 3) + " ms";
}

}  // namespace

std::vector<Row> FloorRows(const Floor &floor) {
    return {
        {"Floor part: Sleep(1) twice, median", Fixed(floor.sleepPairMs.median, 3) + " ms",
         "nominal 2 ms", "p99 " + Fixed(floor.sleepPairMs.p99, 3) + " ms"},
        {"Floor part: pty ping 14 out, 16 back, median", Fixed(floor.pingMs.median, 3) + " ms",
         "-", "p99 " + Fixed(floor.pingMs.p99, 3) + " ms"},
    };
}

std::vector<Row> ExchangeRows(BenchEnv &env, const Floor &floor, const Settings &settings) {
    DeviceLink link(env, sim::DeviceOptions{}, 9600);
    const auto ms = TimeExchanges(settings.exchanges);
    const std::string name = "OrvSendCommand latency (" + std::to_string(settings.exchanges) + ")";
    if (ms.empty()) return {{name, "FAILED", "", ""}};
    const Summary s = Summarize(ms);
    const std::string floorText = "floor " + Fixed(floor.exchangeMs(), 3) + " ms";
    const double gap = s.median - floor.exchangeMs();
    return {
        {name + ", median", Fixed(s.median, 3) + " ms", floorText,
         Gap(s.median, floor.exchangeMs()) + (gap <= kAllowedGapMs ? " (<= 0.15: met)"
                                                                   : " (<= 0.15: NOT met)")},
        {name + ", p99", Fixed(s.p99, 3) + " ms", floorText,
         Gap(s.p99, floor.exchangeMs()) + "; mean " + Fixed(s.mean, 3) + " ms"},
    };
}

}  // namespace orv::bench
