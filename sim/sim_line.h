// The simulators' end of a pseudo-terminal: the master side, raw, with the
// slave held open too so that hosts may close and reopen the port, optional
// pacing at a line speed, and a stop request that wakes any wait.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

struct termios;

namespace orv::sim {

using Clock = std::chrono::steady_clock;

class SimLine {
public:
    // Opens a new pseudo-terminal pair. Throws std::system_error on failure.
    SimLine();
    ~SimLine();
    SimLine(const SimLine &) = delete;
    SimLine &operator=(const SimLine &) = delete;

    const std::string &slavePath() const { return slavePath_; }
    // The line settings in force on the slave side, as a host put them.
    bool slaveAttributes(struct termios &attributes) const;
    int masterFd() const { return masterFd_; }

    // Pace both directions as a line at baud bit/s would, with bitsPerByte
    // (10 for 8N1, 11 with parity or two stop bits). 0 turns pacing off.
    // Set it while nothing is being read or written.
    void setPacing(uint32_t baud, uint32_t bitsPerByte = 10);
    uint32_t pacingBaud() const { return baud_.load(); }

    // Reads up to buf.size() bytes, returning as soon as at least one byte has
    // arrived; 0 at the deadline or after stop(); -1 once the line is gone
    // (master closed by hangUp()).
    long readSome(std::span<uint8_t> buf, Clock::time_point deadline);
    // Reads exactly buf.size() bytes unless the deadline, stop or hang-up comes
    // first; returns the count read.
    size_t readExact(std::span<uint8_t> buf, Clock::time_point deadline);
    // Writes all bytes (paced when pacing is on); false after stop or hang-up.
    bool writeAll(std::span<const uint8_t> bytes);
    // Discards whatever the host has sent and not yet been read.
    void drainInput();

    // Wakes every wait and makes later waits return at once.
    void stop();
    bool stopped() const { return stopped_.load(); }
    // Sleeps until the time point, or until stop(); false when stopped.
    bool sleepUntil(Clock::time_point t);

    // Waits until the host has read everything written to it (the slave's
    // input queue stays empty for a moment), or the deadline; false then.
    // A hang-up discards what the host has not read yet.
    bool waitUntilRead(Clock::time_point deadline);

    // Closes the master end: to the host the device has gone.
    void hangUp();
    bool hungUp() const { return masterFd_ < 0; }

private:
    // A paced direction keeps an absolute timetable: byte k of a burst has
    // crossed the line at epoch + (k + 1) byte times. Late wake-ups therefore
    // never add up over a transfer, and no byte ever crosses early.
    struct Timetable {
        uint32_t baud = 0;
        uint32_t bitsPerByte = 10;
        Clock::time_point epoch{};
        uint64_t crossed = 0;  // bytes of the burst handed over so far
        bool idle = true;      // the next byte starts a new burst

        bool paced() const { return baud != 0; }
        // When the next k bytes will all have crossed.
        Clock::time_point due(uint64_t k) const;
        // Bytes that have crossed by now and were not handed over yet.
        uint64_t waiting(Clock::time_point now) const;
        // How many bytes cross in about a millisecond; at least 1.
        std::size_t perMillisecond() const;
        void restart(Clock::time_point now);
    };

    bool waitReadable(Clock::time_point deadline);
    long readPaced(std::span<uint8_t> buf, Clock::time_point deadline);
    bool writePaced(std::span<const uint8_t> bytes);
    std::size_t queuedFromHost() const;

    int masterFd_ = -1;
    int slaveFd_ = -1;
    int stopFd_ = -1;
    std::string slavePath_;
    std::atomic<bool> stopped_{false};
    std::atomic<uint32_t> baud_{0};
    Timetable rx_;  // host to simulator: the reading thread's alone
    std::mutex writeMutex_;
    Timetable tx_;  // simulator to host: guarded by writeMutex_
};

}  // namespace orv::sim
