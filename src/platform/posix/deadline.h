// One monotonic deadline for every bounded wait of the platform layer, in the
// millisecond terms that poll() takes.
#pragma once

#include <chrono>
#include <cstdint>
#include <limits>

namespace orv::win {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    static Deadline Never() { return Deadline(); }
    static Deadline After(std::chrono::milliseconds span) { return Deadline(Clock::now() + span); }
    static Deadline AfterMs(uint64_t ms) {
        // Past ~100 years the wait is as good as endless.
        if (ms > kFarMs) return Never();
        return After(std::chrono::milliseconds(ms));
    }
    static Deadline At(Clock::time_point when) { return Deadline(when); }

    bool endless() const { return endless_; }
    bool expired() const { return !endless_ && Clock::now() >= when_; }
    Clock::time_point when() const { return when_; }

    // The sooner of two deadlines.
    Deadline earliest(const Deadline &other) const {
        if (endless_) return other;
        if (other.endless_) return *this;
        return when_ <= other.when_ ? *this : other;
    }

    // poll()'s time-out: -1 for none, else the remaining time rounded up, so
    // that a wait never ends before its deadline. The kernel lets a long
    // poll() end up to 0.1 % late; that much is left for a second, short one,
    // so callers loop until expired().
    int pollTimeoutMs() const {
        if (endless_) return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(when_ - Clock::now()).count();
        if (left <= 0) return 0;
        if (left >= 2000) left -= left / 1000;
        if (left > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
        return static_cast<int>(left);
    }

private:
    static constexpr uint64_t kFarMs = uint64_t{100} * 365 * 24 * 3600 * 1000;
    Deadline() = default;
    explicit Deadline(Clock::time_point when) : when_(when), endless_(false) {}

    Clock::time_point when_{};
    bool endless_ = true;
};

}  // namespace orv::win
