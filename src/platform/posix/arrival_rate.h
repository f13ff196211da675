// How fast the bytes of one read arrive. While most of a long read is still
// to come, the reader sleeps through half of the time the rest needs at that
// rate instead of waking for every piece a slow line hands over; near the end
// it waits for input again, so the last byte is seen as soon as it comes.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace orv::win {

class ArrivalRate {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kShortestLull{2};
    static constexpr std::chrono::milliseconds kLongestLull{20};

    // Records the bytes one look took in.
    void note(uint64_t moved, Clock::time_point now) {
        if (moved == 0) return;
        if (!started_) {
            started_ = true;
            first_ = now;
        } else {
            since_ += moved;
        }
        last_ = now;
    }

    // How long to sleep before the next look with `missing` bytes to come;
    // zero: wait for input. Known only once two looks have brought bytes.
    std::chrono::milliseconds lull(uint64_t missing) const {
        using Ms = std::chrono::duration<double, std::milli>;
        if (since_ == 0 || last_ <= first_) return std::chrono::milliseconds(0);
        const double perByte = Ms(last_ - first_).count() / static_cast<double>(since_);
        const double half = perByte * static_cast<double>(missing) / 2;
        if (half < static_cast<double>(kShortestLull.count())) return std::chrono::milliseconds(0);
        const double ms = std::min(half, static_cast<double>(kLongestLull.count()));
        return std::chrono::milliseconds(static_cast<int64_t>(ms));
    }

private:
    bool started_ = false;
    Clock::time_point first_{}, last_{};
    uint64_t since_ = 0;  // bytes after the first look's
};

}  // namespace orv::win
