// Clocks and summaries shared by the end-to-end benchmarks.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace orv::bench {

using Clock = std::chrono::steady_clock;

inline double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Summary {
    double mean = 0;
    double median = 0;
    double p99 = 0;
    std::size_t count = 0;
};

// The median and the 99th percentile (nearest rank) of the samples.
inline Summary Summarize(std::vector<double> samples) {
    Summary s;
    s.count = samples.size();
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    double sum = 0;
    for (double x : samples) sum += x;
    s.mean = sum / static_cast<double>(n);
    s.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    std::size_t rank = (99 * n + 99) / 100;  // ceil(0.99 n)
    s.p99 = samples[std::min(n, std::max<std::size_t>(rank, 1)) - 1];
    return s;
}

inline double CpuMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}
inline double ProcessCpuMs() { return CpuMs(CLOCK_PROCESS_CPUTIME_ID); }
inline double ThreadCpuMs() { return CpuMs(CLOCK_THREAD_CPUTIME_ID); }

}  // namespace orv::bench
