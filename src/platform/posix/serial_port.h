// The object behind a port handle: the open tty, its own receive queue fed
// through the PARMRK decoder, its time-outs, event mask and error state.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>

#include "platform/posix/handle_table.h"
#include "platform/posix/parmrk_decoder.h"
#include "platform/posix/rx_queue.h"
#include "platform/posix/win_api.h"

namespace orv::win {

// CE_ bits a marked byte sets: a tty marks parity and framing errors (and
// breaks) alike, so the two cannot be told apart.
constexpr DWORD kLineErrorBits = CE_FRAME | CE_RXPARITY;

class SerialPort : public HandleObject {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kQueueSize = 64 * 1024;

    enum class Pull { Ok, Gone };

    // Takes ownership of the open, locked tty.
    explicit SerialPort(int fd);
    ~SerialPort() override;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    bool valid() const { return wakeFd >= 0 && closedFd >= 0; }

    // Moves every byte the kernel holds (as far as the queue has room)
    // through the decoder into rx. Gone when the device has gone.
    Pull pullLocked();
    // Bytes handed to the queue by hand (the test seam's raw input).
    void takeRawLocked(std::span<const uint8_t> raw);

    // Marks the port closed, wakes every wait on it and lets the device go;
    // the descriptor itself closes with the last user.
    void shutdown();

    const int fd;
    const int wakeFd;    // SetCommMask and writes wake a WaitCommEvent
    const int closedFd;  // readable once the handle is closed

    std::mutex mutex;
    // Guarded by mutex:
    RxQueue rx{kQueueSize};
    ParmrkDecoder decoder;
    COMMTIMEOUTS timeouts{};
    DWORD mask = 0;
    uint64_t maskGeneration = 0;
    DWORD errors = 0;
    bool rxNew = false;   // bytes arrived since the last EV_RXCHAR report
    bool errNew = false;  // a line error since the last EV_ERR report
    bool txArmed = false;  // a write awaits its EV_TXEMPTY report
    Clock::time_point txReportBy{};
    DCB dcb{};
    bool closing = false;
    // WaitCommEvent calls under way: only they need waking by wakeFd, and
    // without one the transfers spare themselves the system calls.
    int eventWaiters = 0;
    bool noLineStatus = false;  // the tty does not report its transmitter

private:
    bool inputAllowed() const;
};

Ref<SerialPort> LookupPort(HANDLE handle);

// Maps an errno of a transfer to the error it reports.
DWORD TransferError(int err);

}  // namespace orv::win
