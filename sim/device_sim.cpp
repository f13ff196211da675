#include "sim/device_sim.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/frame_format.h"

namespace orv::sim {

namespace {

constexpr auto kReadSlice = std::chrono::milliseconds(50);
// How long a hang-up waits for the host to take what was sent before it.
constexpr auto kHangUpLinger = std::chrono::seconds(1);

Clock::duration ByteTime(const SimLine &line, uint32_t bitsPerByte) {
    const uint32_t baud = line.pacingBaud();
    if (baud == 0) return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(1000000000ull * bitsPerByte / baud));
}

std::vector<uint8_t> ToVector(std::span<const uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace

CommandFields CommandFields::decode(std::span<const uint8_t> f) {
    CommandFields c;
    if (f.size() < kCommandFrameSize) return c;
    c.command = f[2];
    c.modifier = f[3];
    c.argument = ReadLe32(&f[4]);
    c.blockIndex = ReadLe16(&f[8]);
    c.blockLength = ReadLe16(&f[10]);
    return c;
}

// The device's side of one exchange, from the CommandFrame just received to
// its last answer.
class DeviceSimulator::Exchange {
public:
    Exchange(DeviceSimulator &sim, SimLine &line, FrameScanner &scanner, const CommandFields &c,
             std::vector<Fault> faults)
        : sim_(sim), line_(line), scanner_(scanner), c_(c), faults_(std::move(faults)) {}

    void run() {
        const auto &o = sim_.options_;
        if (c_.blockLength == 0) return single();
        if (c_.command == o.writeCommand) return write();
        if (c_.command == o.readCommand) return read();
        send(FaultTarget::Ack, FrameKind::Ack, ack(o.refusedStatus));
    }

private:
    std::vector<uint8_t> ack(uint8_t status) const { return ToVector(EncodeAckFrame(c_.command, status)); }
    std::vector<uint8_t> reply(bool more, uint32_t value) const {
        return ToVector(EncodeReplyFrame(c_.command, more ? 1 : 0, value));
    }

    void single() {
        if (!send(FaultTarget::Ack, FrameKind::Ack, ack(kAckStatusOk))) return;
        send(FaultTarget::Reply, FrameKind::Reply, reply(false, c_.argument));
    }

    void write() {
        DeviceStore::Chunk chunk;
        {
            std::lock_guard lock(sim_.mu_);
            chunk = sim_.store_.writeChunk(c_.argument, c_.blockIndex, c_.blockLength);
        }
        if (!send(FaultTarget::Ack, FrameKind::Ack, ack(kAckStatusOk))) return;
        auto payload = receiveBlock();
        if (!payload) return;
        std::size_t stored;
        {
            std::lock_guard lock(sim_.mu_);
            stored = sim_.store_.store(c_.argument, chunk, *payload);
        }
        const bool more = !has(FaultAction::MoreFlagZero, FaultTarget::Reply);
        send(FaultTarget::Reply, FrameKind::Reply, reply(more, static_cast<uint32_t>(stored)));
    }

    void read() {
        std::size_t length;
        bool more;
        std::vector<uint8_t> payload;
        {
            std::lock_guard lock(sim_.mu_);
            auto chunk = sim_.store_.readChunk(c_.argument, c_.blockIndex, c_.blockLength);
            length = sim_.store_.length(c_.argument);
            more = chunk.offset < length;
            if (more) payload = sim_.store_.load(c_.argument, chunk.offset, c_.blockLength);
        }
        if (has(FaultAction::MoreFlagZero, FaultTarget::Reply)) more = false;
        if (!send(FaultTarget::Ack, FrameKind::Ack, ack(kAckStatusOk))) return;
        if (!send(FaultTarget::Reply, FrameKind::Reply, reply(more, static_cast<uint32_t>(length))))
            return;
        if (!more) return;
        std::vector<uint8_t> block(payload.size() + kDataBlockOverhead);
        EncodeDataBlock(c_.command, payload, block);
        send(FaultTarget::Block, FrameKind::DataBlock, std::move(block));
    }

    bool has(FaultAction action, FaultTarget target) const {
        return std::any_of(faults_.begin(), faults_.end(), [&](const Fault &f) {
            return f.action == action && f.target == target;
        });
    }

    // Sends one answer with its faults applied. True when the exchange goes
    // on: the host will take what was sent as the frame it expects.
    bool send(FaultTarget target, FrameKind kind, std::vector<uint8_t> frame) {
        for (const auto &f : faults_) {
            if (f.target == target && f.action == FaultAction::LateAnswer &&
                !line_.sleepUntil(Clock::now() + f.delay))
                return false;
        }
        for (const auto &f : faults_)
            if (f.target == target) ApplyFault(f, kind, frame);
        if (has(FaultAction::NoAnswer, target)) return false;

        Clock::duration delay{};
        RandomHit hit;
        {
            std::lock_guard lock(sim_.mu_);
            hit = sim_.random_.strike(kind, frame, delay);
            sim_.counters_.random = sim_.random_.counts();
        }
        if (hit == RandomHit::Drop) return false;
        if (hit == RandomHit::Delay && !line_.sleepUntil(Clock::now() + delay)) return false;

        if (target == FaultTarget::Block && has(FaultAction::HangUp, target)) {
            frame.resize(frame.size() / 2);
            writeOut(kind, frame);
            hangUp();
            return false;
        }
        if (!writeOut(kind, frame)) return false;
        if (hit == RandomHit::Duplicate && !writeOut(kind, frame)) return false;
        if (has(FaultAction::HangUp, target)) {
            hangUp();
            return false;
        }
        return acceptable(kind, frame);
    }

    void hangUp() {
        line_.waitUntilRead(Clock::now() + kHangUpLinger);
        line_.hangUp();
    }

    bool writeOut(FrameKind kind, std::span<const uint8_t> bytes) {
        const bool ok = line_.writeAll(bytes);
        sim_.noteFrame(Direction::ToHost, kind, bytes, bytes.size(), true);
        return ok;
    }

    bool acceptable(FrameKind kind, std::span<const uint8_t> sent) const {
        if (kind == FrameKind::Ack)
            return sent.size() >= kAckFrameSize && AcceptAckFrame(c_.command, sent.first(kAckFrameSize));
        if (kind == FrameKind::Reply) {
            ReplyFields fields;
            return sent.size() >= kReplyFrameSize &&
                   AcceptReplyFrame(c_.command, sent.first(kReplyFrameSize), fields);
        }
        return true;
    }

    // The host's DataBlock of a write chunk; nothing when it is short or fails
    // its checks. Then its bytes after the first go back to be scanned, as they
    // may hold the start of the host's next attempt.
    std::optional<std::vector<uint8_t>> receiveBlock() {
        const std::size_t n = c_.blockLength;
        const std::size_t total = n + kDataBlockOverhead;
        const bool dropLine = has(FaultAction::HangUp, FaultTarget::Block);
        std::vector<uint8_t> block(dropLine ? total / 2 : total);
        std::size_t got = scanner_.take(block);
        const auto deadline = Clock::now() + sim_.options_.blockTimeout +
                              ByteTime(line_, sim_.options_.bitsPerByte) * total;
        got += line_.readExact(std::span(block).subspan(got), deadline);
        block.resize(got);
        if (dropLine) {
            sim_.noteFrame(Direction::FromHost, FrameKind::DataBlock, block, got, false);
            hangUp();
            return std::nullopt;
        }
        const bool ok = got == total && AcceptDataBlockHeader(c_.command, block, n) &&
                        AcceptDataBlockChecksum(c_.command, std::span(block).subspan(3, n),
                                                ReadLe16(&block[n + 3]));
        sim_.noteFrame(Direction::FromHost, FrameKind::DataBlock, block, got, ok);
        if (!ok) {
            if (got > 1) scanner_.putBack(std::span(block).subspan(1), Clock::now());
            return std::nullopt;
        }
        return std::vector<uint8_t>(block.begin() + 3, block.begin() + 3 + static_cast<std::ptrdiff_t>(n));
    }

    DeviceSimulator &sim_;
    SimLine &line_;
    FrameScanner &scanner_;
    const CommandFields c_;
    const std::vector<Fault> faults_;
};

DeviceSimulator::DeviceSimulator(DeviceOptions options)
    : options_(options), store_(options.maxRegionBytes) {}

DeviceSimulator::~DeviceSimulator() { stop(); }

void DeviceSimulator::start(SimLine &line) {
    std::lock_guard lock(runMu_);
    if (thread_.joinable()) throw std::logic_error("device simulator already started");
    line_ = &line;
    thread_ = std::thread([this, &line] { serve(line); });
}

void DeviceSimulator::stop() {
    std::lock_guard lock(runMu_);
    if (line_) line_->stop();
    if (thread_.joinable()) thread_.join();
    line_ = nullptr;
}

void DeviceSimulator::serve(SimLine &line) {
    serve(line, [] { return true; });
}

void DeviceSimulator::serve(SimLine &line, const std::function<bool()> &keepServing) {
    if (options_.baud != 0) line.setPacing(options_.baud, options_.bitsPerByte);
    update([this](DeviceCounters &) { ++servingCount_; });
    FrameScanner scanner;
    while (!line.stopped() && !line.hungUp() && keepServing()) {
        auto frame = awaitFrame(line, scanner);
        if (!frame) continue;
        if (frame->kind == FrameKind::WakeUp)
            noteWakeUp(line, *frame);
        else
            handleCommand(line, scanner, *frame);
    }
    update([this](DeviceCounters &) { --servingCount_; });
}

std::optional<ScannedFrame> DeviceSimulator::awaitFrame(SimLine &line, FrameScanner &scanner) {
    const uint64_t skippedBefore = scanner.skippedBytes();
    auto frame = scanner.next();
    if (!frame) {
        uint8_t buf[4096];
        const long n = line.readSome(buf, Clock::now() + kReadSlice);
        if (n > 0) scanner.feed(std::span(buf, static_cast<std::size_t>(n)), Clock::now());
        frame = scanner.next();
    }
    const uint64_t skipped = scanner.skippedBytes() - skippedBefore;
    if (skipped != 0) update([skipped](DeviceCounters &k) { k.skippedBytes += skipped; });
    return frame;
}

void DeviceSimulator::handleCommand(SimLine &line, FrameScanner &scanner, const ScannedFrame &frame) {
    const auto c = CommandFields::decode(frame.bytes);
    std::vector<Fault> faults;
    {
        std::lock_guard lock(mu_);
        ++counters_.framesReceived;
        ++counters_.commandFrames;
        lastWasWakeUp_ = false;
        record({frame.lastByteAt, Direction::FromHost, FrameKind::Command, ToVector(frame.bytes),
                kCommandFrameSize, ReadLe16(&frame.bytes[12]), true});
        faults = script_.take(counters_.commandFrames, c);
        counters_.faultsApplied += faults.size();
    }
    changed_.notify_all();
    Exchange(*this, line, scanner, c, std::move(faults)).run();
    update([](DeviceCounters &k) { ++k.exchanges; });
}

// Frames back to back form one burst; a gap longer than burstGap (or three
// byte times on a slow paced line) starts the next.
void DeviceSimulator::noteWakeUp(SimLine &line, const ScannedFrame &frame) {
    const Clock::duration gap = std::max<Clock::duration>(
        options_.burstGap, 3 * ByteTime(line, options_.bitsPerByte));
    {
        std::lock_guard lock(mu_);
        ++counters_.framesReceived;
        ++counters_.wakeUpFrames;
        if (!lastWasWakeUp_ || frame.firstByteAt - lastWakeUpAt_ > gap) ++counters_.wakeUpBursts;
        lastWasWakeUp_ = true;
        lastWakeUpAt_ = frame.lastByteAt;
        record({frame.lastByteAt, Direction::FromHost, FrameKind::WakeUp, ToVector(frame.bytes),
                kWakeUpFrameSize, ReadLe16(&frame.bytes[12]), true});
    }
    changed_.notify_all();
}

void DeviceSimulator::noteFrame(Direction direction, FrameKind kind,
                                std::span<const uint8_t> bytes, std::size_t length, bool accepted) {
    FrameRecord rec{Clock::now(), direction, kind, {}, length, 0, accepted};
    if (bytes.size() >= 2) rec.checksum = ReadLe16(&bytes[bytes.size() - 2]);
    const bool trim = kind == FrameKind::DataBlock && bytes.size() > options_.recordBlockBytes;
    rec.bytes = ToVector(trim ? bytes.first(3) : bytes);
    {
        std::lock_guard lock(mu_);
        if (direction == Direction::ToHost) {
            ++counters_.framesSent;
        } else {
            ++counters_.framesReceived;
            ++(accepted ? counters_.dataBlocksReceived : counters_.badDataBlocks);
        }
        record(std::move(rec));
    }
    changed_.notify_all();
}

void DeviceSimulator::record(FrameRecord rec) {
    records_.push_back(std::move(rec));
    while (records_.size() > options_.recordLimit) records_.pop_front();
}

void DeviceSimulator::update(const std::function<void(DeviceCounters &)> &change) {
    {
        std::lock_guard lock(mu_);
        change(counters_);
    }
    changed_.notify_all();
}

std::vector<uint8_t> DeviceSimulator::region(uint32_t argument) const {
    std::lock_guard lock(mu_);
    return store_.region(argument);
}

void DeviceSimulator::setRegion(uint32_t argument, std::vector<uint8_t> bytes) {
    std::lock_guard lock(mu_);
    store_.setRegion(argument, std::move(bytes));
}

void DeviceSimulator::addFault(const Fault &fault) {
    std::lock_guard lock(mu_);
    script_.add(fault);
}

void DeviceSimulator::clearFaults() {
    std::lock_guard lock(mu_);
    script_.clear();
}

void DeviceSimulator::setRandomFaults(const RandomFaults &faults) {
    std::lock_guard lock(mu_);
    random_.configure(faults);
    counters_.random = random_.counts();
}

DeviceCounters DeviceSimulator::counters() const {
    std::lock_guard lock(mu_);
    return counters_;
}

std::vector<FrameRecord> DeviceSimulator::frames() const {
    std::lock_guard lock(mu_);
    return {records_.begin(), records_.end()};
}

std::vector<FrameRecord> DeviceSimulator::received() const {
    std::vector<FrameRecord> out;
    for (auto &r : frames())
        if (r.direction == Direction::FromHost) out.push_back(std::move(r));
    return out;
}

std::vector<FrameRecord> DeviceSimulator::sent() const {
    std::vector<FrameRecord> out;
    for (auto &r : frames())
        if (r.direction == Direction::ToHost) out.push_back(std::move(r));
    return out;
}

std::vector<CommandFields> DeviceSimulator::commands() const {
    std::vector<CommandFields> out;
    for (const auto &r : frames())
        if (r.kind == FrameKind::Command) out.push_back(CommandFields::decode(r.bytes));
    return out;
}

bool DeviceSimulator::serving() const {
    std::lock_guard lock(mu_);
    return servingCount_ > 0;
}

bool DeviceSimulator::waitFor(const std::function<bool(const DeviceCounters &)> &pred,
                              Clock::duration timeout) const {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, timeout, [&] { return pred(counters_); });
}

bool DeviceSimulator::waitForServing(bool serving, Clock::duration timeout) const {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, timeout, [&] { return (servingCount_ > 0) == serving; });
}

bool DeviceSimulator::waitForFrames(uint64_t count, Clock::duration timeout) const {
    return waitFor([count](const DeviceCounters &k) { return k.framesReceived >= count; }, timeout);
}

bool DeviceSimulator::waitForExchanges(uint64_t count, Clock::duration timeout) const {
    return waitFor([count](const DeviceCounters &k) { return k.exchanges >= count; }, timeout);
}

bool DeviceSimulator::waitForWakeUps(uint64_t count, Clock::duration timeout) const {
    return waitFor([count](const DeviceCounters &k) { return k.wakeUpFrames >= count; }, timeout);
}

}  // namespace orv::sim
