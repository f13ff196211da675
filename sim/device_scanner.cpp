#include "sim/device_scanner.h"

#include <algorithm>

namespace orv::sim {

void FrameScanner::feed(std::span<const uint8_t> bytes, Clock::time_point at) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    times_.insert(times_.end(), bytes.size(), at);
}

void FrameScanner::drop(std::size_t n) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(n));
}

// Both sync pairs a host sends end in 0xAA: 55 AA (command) and AA AA (wake-up).
void FrameScanner::skipToSync() {
    while (!bytes_.empty()) {
        const uint8_t first = bytes_[0];
        if (first == kCommandSync[0] || first == WakeUpFrame[0]) {
            if (bytes_.size() == 1 || bytes_[1] == kCommandSync[1]) return;
        }
        drop(1);
        ++skipped_;
    }
}

std::optional<ScannedFrame> FrameScanner::next() {
    for (;;) {
        skipToSync();
        if (bytes_.size() < kCommandFrameSize) return std::nullopt;
        ScannedFrame frame;
        std::copy_n(bytes_.begin(), kCommandFrameSize, frame.bytes.begin());
        frame.firstByteAt = times_[0];
        frame.lastByteAt = times_[kCommandFrameSize - 1];
        const auto &b = frame.bytes;
        const bool command = b[0] == kCommandSync[0] &&
                             FrameChecksum(std::span(b).subspan(2, 10)) == ReadLe16(&b[12]);
        const bool wakeUp = b == WakeUpFrame;
        if (command || wakeUp) {
            frame.kind = command ? FrameKind::Command : FrameKind::WakeUp;
            drop(kCommandFrameSize);
            return frame;
        }
        drop(1);
        ++skipped_;
    }
}

std::size_t FrameScanner::take(std::span<uint8_t> out) {
    const std::size_t n = std::min(out.size(), bytes_.size());
    std::copy_n(bytes_.begin(), n, out.begin());
    drop(n);
    return n;
}

void FrameScanner::putBack(std::span<const uint8_t> bytes, Clock::time_point at) {
    bytes_.insert(bytes_.begin(), bytes.begin(), bytes.end());
    times_.insert(times_.begin(), bytes.size(), at);
}

}  // namespace orv::sim
