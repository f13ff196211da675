// Faults the simulated device can be told to commit: scripted ones, chosen per
// exchange, and a random mode for soak tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "sim/device_types.h"

namespace orv::sim {

// The frame of the device's answer a fault acts on. For HangUp, Block means
// halfway through the DataBlock, whichever way it travels.
enum class FaultTarget { Ack, Reply, Block };

enum class FaultAction {
    NoAnswer,      // the target frame is not sent, nor anything after it
    LateAnswer,    // `delay` before the target frame
    AckStatus,     // the ack carries `status`
    WrongEcho,     // byte 2 of the target is another command (checksum kept valid)
    BadChecksum,   // the target's checksum is one off
    ShortFrame,    // only the first `bytes` bytes of the target
    LongFrame,     // `bytes` extra bytes appended to the target
    MoreFlagZero,  // the reply says moreFlag 0 (a read chunk then sends no block)
    CorruptBlock,  // one payload byte of the outgoing block changed, checksum left
    HangUp,        // the line is hung up after the target (mid-block for Block)
};

// Which exchanges a fault applies to: every condition given must hold.
struct FaultSelector {
    static constexpr int kEvery = -1;
    uint64_t nthCommand = 0;  // the Nth CommandFrame received overall, from 1; 0 = any
    std::optional<uint8_t> command;
    std::optional<uint16_t> blockIndex;
    int times = 1;  // matching exchanges it applies to, or kEvery
};

struct Fault {
    FaultSelector when;
    FaultAction action = FaultAction::NoAnswer;
    FaultTarget target = FaultTarget::Reply;
    std::chrono::milliseconds delay{0};  // LateAnswer
    uint8_t status = 0x00;               // AckStatus
    std::size_t bytes = 0;               // ShortFrame: bytes kept; LongFrame: bytes added

    static Fault noAnswer(FaultTarget target) { return make(FaultAction::NoAnswer, target); }
    static Fault lateAnswer(FaultTarget target, std::chrono::milliseconds delay);
    static Fault ackStatus(uint8_t status);
    static Fault wrongEcho(FaultTarget target) { return make(FaultAction::WrongEcho, target); }
    static Fault badChecksum(FaultTarget target) { return make(FaultAction::BadChecksum, target); }
    static Fault shortFrame(FaultTarget target, std::size_t keep);
    static Fault longFrame(FaultTarget target, std::size_t extra);
    static Fault moreFlagZero() { return make(FaultAction::MoreFlagZero, FaultTarget::Reply); }
    static Fault corruptBlock() { return make(FaultAction::CorruptBlock, FaultTarget::Block); }
    static Fault hangUp(FaultTarget target) { return make(FaultAction::HangUp, target); }

    // Narrow the selector (by default: the next exchange, once).
    Fault onNthCommand(uint64_t nth) const;
    Fault onCommand(uint8_t command) const;
    Fault atBlockIndex(uint16_t blockIndex) const;
    Fault times(int count) const;

private:
    static Fault make(FaultAction action, FaultTarget target);
};

class FaultScript {
public:
    void add(const Fault &fault) { pending_.push_back(fault); }
    void clear() { pending_.clear(); }
    // The faults for the nth CommandFrame; uses up one of each one's times.
    std::vector<Fault> take(uint64_t nth, const CommandFields &command);

private:
    std::vector<Fault> pending_;
};

// Changes the bytes of an outgoing frame as a scripted fault says.
void ApplyFault(const Fault &fault, FrameKind kind, std::vector<uint8_t> &frame);

// Random faults: each frame the device sends is hit with probability `rate`,
// by one of the enabled kinds that fits it. Acks are never corrupted or
// truncated; every change of a reply or block is one an additive checksum
// detects.
struct RandomFaults {
    uint64_t seed = 1;
    double rate = 0.0;
    bool corrupt = true;
    bool duplicate = true;
    bool delay = true;
    bool truncate = true;
    bool drop = true;
    std::chrono::milliseconds maxDelay{50};
};

enum class RandomHit { None, Corrupt, Duplicate, Delay, Truncate, Drop };

class RandomFaultInjector {
public:
    void configure(const RandomFaults &faults);
    // Picks the hit for one outgoing frame and applies byte changes to it;
    // delay gets the pause for Delay.
    RandomHit strike(FrameKind kind, std::vector<uint8_t> &frame, Clock::duration &delay);
    const RandomFaultCounts &counts() const { return counts_; }

private:
    RandomFaults faults_;
    std::mt19937_64 rng_{1};
    RandomFaultCounts counts_;
};

}  // namespace orv::sim
