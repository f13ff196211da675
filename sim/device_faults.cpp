#include "sim/device_faults.h"

#include "protocol/frame_format.h"

namespace orv::sim {

namespace {

bool Selects(const FaultSelector &s, uint64_t nth, const CommandFields &c) {
    if (s.times == 0) return false;
    if (s.nthCommand != 0 && s.nthCommand != nth) return false;
    if (s.command && *s.command != c.command) return false;
    if (s.blockIndex && *s.blockIndex != c.blockIndex) return false;
    return true;
}

bool HasChecksum(FrameKind kind) { return kind == FrameKind::Reply || kind == FrameKind::DataBlock; }

// Recomputes the checksum after a deliberate change, so that only that change shows.
void Reseal(FrameKind kind, std::vector<uint8_t> &f) {
    if (!HasChecksum(kind) || f.size() < kDataBlockOverhead) return;
    const std::size_t covered = f.size() - 4;
    WriteLe16(&f[f.size() - 2], FrameChecksum(std::span(f).subspan(2, covered)));
}

void BumpChecksum(std::vector<uint8_t> &f) {
    WriteLe16(&f[f.size() - 2], static_cast<uint16_t>(ReadLe16(&f[f.size() - 2]) + 1));
}

}  // namespace

Fault Fault::make(FaultAction action, FaultTarget target) {
    Fault f;
    f.action = action;
    f.target = target;
    return f;
}

Fault Fault::lateAnswer(FaultTarget target, std::chrono::milliseconds delay) {
    Fault f = make(FaultAction::LateAnswer, target);
    f.delay = delay;
    return f;
}

Fault Fault::ackStatus(uint8_t status) {
    Fault f = make(FaultAction::AckStatus, FaultTarget::Ack);
    f.status = status;
    return f;
}

Fault Fault::shortFrame(FaultTarget target, std::size_t keep) {
    Fault f = make(FaultAction::ShortFrame, target);
    f.bytes = keep;
    return f;
}

Fault Fault::longFrame(FaultTarget target, std::size_t extra) {
    Fault f = make(FaultAction::LongFrame, target);
    f.bytes = extra;
    return f;
}

Fault Fault::onNthCommand(uint64_t nth) const {
    Fault f = *this;
    f.when.nthCommand = nth;
    return f;
}

Fault Fault::onCommand(uint8_t command) const {
    Fault f = *this;
    f.when.command = command;
    return f;
}

Fault Fault::atBlockIndex(uint16_t blockIndex) const {
    Fault f = *this;
    f.when.blockIndex = blockIndex;
    return f;
}

Fault Fault::times(int count) const {
    Fault f = *this;
    f.when.times = count;
    return f;
}

std::vector<Fault> FaultScript::take(uint64_t nth, const CommandFields &command) {
    std::vector<Fault> chosen;
    for (auto &fault : pending_) {
        if (!Selects(fault.when, nth, command)) continue;
        chosen.push_back(fault);
        if (fault.when.times > 0) --fault.when.times;
    }
    return chosen;
}

void ApplyFault(const Fault &fault, FrameKind kind, std::vector<uint8_t> &frame) {
    switch (fault.action) {
    case FaultAction::AckStatus:
        if (kind == FrameKind::Ack && frame.size() > 3) frame[3] = fault.status;
        break;
    case FaultAction::WrongEcho:
        if (frame.size() > 2) frame[2] = static_cast<uint8_t>(frame[2] + 1);
        Reseal(kind, frame);
        break;
    case FaultAction::BadChecksum:
        if (HasChecksum(kind) && frame.size() >= kDataBlockOverhead) BumpChecksum(frame);
        break;
    case FaultAction::ShortFrame:
        if (fault.bytes < frame.size()) frame.resize(fault.bytes);
        break;
    case FaultAction::LongFrame:
        frame.insert(frame.end(), fault.bytes, 0xEE);
        break;
    case FaultAction::CorruptBlock:
        // The first payload byte, or the checksum of an empty block.
        if (kind == FrameKind::DataBlock && frame.size() >= kDataBlockOverhead)
            frame[3] = static_cast<uint8_t>(frame[3] + 1);
        break;
    default:
        break;
    }
}

void RandomFaultInjector::configure(const RandomFaults &faults) {
    faults_ = faults;
    rng_.seed(faults.seed);
    counts_ = {};
}

RandomHit RandomFaultInjector::strike(FrameKind kind, std::vector<uint8_t> &frame,
                                      Clock::duration &delay) {
    if (faults_.rate <= 0.0 || frame.empty()) return RandomHit::None;
    if (std::uniform_real_distribution<double>(0.0, 1.0)(rng_) >= faults_.rate)
        return RandomHit::None;
    const bool checked = HasChecksum(kind);
    std::vector<RandomHit> kinds;
    if (faults_.corrupt && checked) kinds.push_back(RandomHit::Corrupt);
    if (faults_.duplicate) kinds.push_back(RandomHit::Duplicate);
    if (faults_.delay) kinds.push_back(RandomHit::Delay);
    if (faults_.truncate && checked && frame.size() > 1) kinds.push_back(RandomHit::Truncate);
    if (faults_.drop) kinds.push_back(RandomHit::Drop);
    if (kinds.empty()) return RandomHit::None;
    const RandomHit hit = kinds[std::uniform_int_distribution<std::size_t>(0, kinds.size() - 1)(rng_)];
    switch (hit) {
    case RandomHit::Corrupt: {
        // One byte changed by 1..255: sync, echo or checksum catches it.
        const auto pos = std::uniform_int_distribution<std::size_t>(0, frame.size() - 1)(rng_);
        frame[pos] = static_cast<uint8_t>(frame[pos] + std::uniform_int_distribution<int>(1, 255)(rng_));
        ++counts_.corrupted;
        break;
    }
    case RandomHit::Truncate:
        frame.resize(std::uniform_int_distribution<std::size_t>(1, frame.size() - 1)(rng_));
        ++counts_.truncated;
        break;
    case RandomHit::Delay: {
        const auto maxMs = std::max<int64_t>(1, faults_.maxDelay.count());
        delay = std::chrono::milliseconds(std::uniform_int_distribution<int64_t>(1, maxMs)(rng_));
        ++counts_.delayed;
        break;
    }
    case RandomHit::Duplicate:
        ++counts_.duplicated;
        break;
    case RandomHit::Drop:
        ++counts_.dropped;
        break;
    case RandomHit::None:
        break;
    }
    return hit;
}

}  // namespace orv::sim
