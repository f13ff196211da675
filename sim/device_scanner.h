// Finds the host's frames in the byte stream the device reads: CommandFrames
// (55 AA, 12 bytes, a valid checksum) and WakeUpFrames, skipping anything else
// by scanning for a sync pair. Keeps each byte's arrival time so that bursts
// can be told apart by the gaps between frames.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

#include "protocol/frame_format.h"
#include "sim/device_types.h"

namespace orv::sim {

struct ScannedFrame {
    FrameKind kind = FrameKind::Command;  // Command or WakeUp
    std::array<uint8_t, kCommandFrameSize> bytes{};
    Clock::time_point firstByteAt;
    Clock::time_point lastByteAt;
};

class FrameScanner {
public:
    void feed(std::span<const uint8_t> bytes, Clock::time_point at);
    // The next whole frame, or nothing until more bytes arrive.
    std::optional<ScannedFrame> next();
    // Moves up to out.size() buffered bytes out (a DataBlock that followed an ack).
    std::size_t take(std::span<uint8_t> out);
    // Returns bytes to the front, to be scanned again.
    void putBack(std::span<const uint8_t> bytes, Clock::time_point at);

    std::size_t buffered() const { return bytes_.size(); }
    uint64_t skippedBytes() const { return skipped_; }

private:
    void skipToSync();
    void drop(std::size_t n);

    std::deque<uint8_t> bytes_;
    std::deque<Clock::time_point> times_;
    uint64_t skipped_ = 0;
};

}  // namespace orv::sim
