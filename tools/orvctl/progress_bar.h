// A one-line progress display on stderr: bytes, rate and time left. Shown
// only when stderr is a terminal, so logs and pipes get none of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace orv::ctl {

class ProgressBar {
public:
    using Clock = std::chrono::steady_clock;

    ProgressBar(std::string label, uint64_t total, bool shown);
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    static bool StderrIsTerminal();

    // Redraws at most ten times a second, and always at the end.
    void update(uint64_t done);
    // Ends the line so that what follows starts on a fresh one.
    void finish();

private:
    void draw(uint64_t done);

    std::string label_;
    uint64_t total_;
    bool shown_;
    bool drawn_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDraw_{};
};

// "1.5 MiB", "512 B"
std::string Bytes(double count);

}  // namespace orv::ctl
