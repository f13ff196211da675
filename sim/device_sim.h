// The device simulator: the device's side of every exchange on the master end
// of a pseudo-terminal, driven by a command map, with a store of byte regions,
// scripted and random faults, optional line-speed pacing, and a record of
// every frame for tests to look at.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "sim/device_faults.h"
#include "sim/device_scanner.h"
#include "sim/device_store.h"
#include "sim/device_types.h"
#include "sim/sim_line.h"

namespace orv::sim {

struct DeviceOptions {
    // The command map: blockLength 0 is always a single command.
    uint8_t writeCommand = 0x21;
    uint8_t readCommand = 0x22;
    uint8_t refusedStatus = 0x04;  // ack of any other command with a block
    // Pacing applied to the line when serving starts; 0 leaves the line as it is.
    uint32_t baud = 0;
    uint32_t bitsPerByte = 10;
    // How long a write chunk's DataBlock may take to arrive after the ack
    // (plus its bytes' time on a paced line).
    std::chrono::milliseconds blockTimeout{1000};
    // A longer silence between wake-up frames starts a new burst.
    std::chrono::milliseconds burstGap{20};
    // Bounds on memory for long transfers: the number of frames recorded (the
    // oldest go first), the largest received DataBlock kept whole in the record,
    // and the largest region.
    std::size_t recordLimit = 100000;
    std::size_t recordBlockBytes = 1024;
    std::size_t maxRegionBytes = std::size_t{64} << 20;
};

class DeviceSimulator {
public:
    explicit DeviceSimulator(DeviceOptions options = {});
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator &) = delete;
    DeviceSimulator &operator=(const DeviceSimulator &) = delete;

    // Serves the line on a thread of its own until stop().
    void start(SimLine &line);
    // Stops the line given to start() and joins the thread.
    void stop();
    // The blocking loop: returns when the line is stopped or hung up, or when
    // keepServing (polled between frames and at least every 50 ms) says false.
    void serve(SimLine &line);
    void serve(SimLine &line, const std::function<bool()> &keepServing);

    std::vector<uint8_t> region(uint32_t argument) const;
    void setRegion(uint32_t argument, std::vector<uint8_t> bytes);

    void addFault(const Fault &fault);
    void clearFaults();
    void setRandomFaults(const RandomFaults &faults);

    DeviceCounters counters() const;
    std::vector<FrameRecord> frames() const;  // both ways, in order
    std::vector<FrameRecord> received() const;
    std::vector<FrameRecord> sent() const;
    std::vector<CommandFields> commands() const;  // the recorded CommandFrames
    bool serving() const;
    bool waitForServing(bool serving, Clock::duration timeout) const;

    // Waits until pred holds for the counters, or the timeout passes.
    bool waitFor(const std::function<bool(const DeviceCounters &)> &pred,
                 Clock::duration timeout) const;
    bool waitForFrames(uint64_t count, Clock::duration timeout) const;  // received
    bool waitForExchanges(uint64_t count, Clock::duration timeout) const;
    bool waitForWakeUps(uint64_t count, Clock::duration timeout) const;

private:
    class Exchange;
    friend class Exchange;

    void handleCommand(SimLine &line, FrameScanner &scanner, const ScannedFrame &frame);
    void noteWakeUp(SimLine &line, const ScannedFrame &frame);
    std::optional<ScannedFrame> awaitFrame(SimLine &line, FrameScanner &scanner);
    void noteFrame(Direction direction, FrameKind kind, std::span<const uint8_t> bytes,
                   std::size_t length, bool accepted);
    void record(FrameRecord rec);  // with mu_ held
    void update(const std::function<void(DeviceCounters &)> &change);

    const DeviceOptions options_;
    mutable std::mutex mu_;
    mutable std::condition_variable changed_;
    DeviceStore store_;
    FaultScript script_;
    RandomFaultInjector random_;
    DeviceCounters counters_;
    std::deque<FrameRecord> records_;
    bool lastWasWakeUp_ = false;
    Clock::time_point lastWakeUpAt_{};
    int servingCount_ = 0;

    std::mutex runMu_;
    SimLine *line_ = nullptr;
    std::thread thread_;
};

}  // namespace orv::sim
