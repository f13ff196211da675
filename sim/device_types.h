// What the device simulator shows of itself: the frames it saw and sent, and
// its counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/sim_line.h"

namespace orv::sim {

enum class FrameKind { Command, WakeUp, Ack, Reply, DataBlock };
enum class Direction { FromHost, ToHost };

// The fields of a CommandFrame as the device reads them.
struct CommandFields {
    uint8_t command = 0;
    uint8_t modifier = 0;
    uint32_t argument = 0;
    uint16_t blockIndex = 0;
    uint16_t blockLength = 0;

    static CommandFields decode(std::span<const uint8_t> frame);  // 14 bytes
    bool operator==(const CommandFields &) const = default;
};

// One frame on the line, as it was actually sent or read (short, long or
// corrupted ones included). DataBlocks longer than the simulator's
// recordBlockBytes keep only their first three bytes in `bytes` (sync pair and
// command), so that long transfers stay cheap; `length` and `checksum` are
// always those of the whole frame.
struct FrameRecord {
    Clock::time_point at;  // when its last byte was read or written
    Direction direction = Direction::FromHost;
    FrameKind kind = FrameKind::Command;
    std::vector<uint8_t> bytes;
    std::size_t length = 0;
    uint16_t checksum = 0;  // the frame's last two bytes, low first (0 when shorter)
    bool accepted = true;   // a received DataBlock that passed its checks
};

struct RandomFaultCounts {
    uint64_t corrupted = 0;
    uint64_t duplicated = 0;
    uint64_t delayed = 0;
    uint64_t truncated = 0;
    uint64_t dropped = 0;
    uint64_t total() const { return corrupted + duplicated + delayed + truncated + dropped; }
};

struct DeviceCounters {
    uint64_t framesReceived = 0;  // CommandFrames, WakeUpFrames and DataBlocks
    uint64_t commandFrames = 0;
    uint64_t exchanges = 0;  // CommandFrames whose answer the device has finished
    uint64_t wakeUpFrames = 0;
    uint64_t wakeUpBursts = 0;
    uint64_t dataBlocksReceived = 0;  // accepted ones
    uint64_t badDataBlocks = 0;       // short or failing their checks: not answered
    uint64_t framesSent = 0;
    uint64_t skippedBytes = 0;  // garbage between frames
    uint64_t faultsApplied = 0;
    RandomFaultCounts random;
};

}  // namespace orv::sim
