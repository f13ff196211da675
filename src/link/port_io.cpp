#include "link/port_io.h"

#include "link/link_state.h"
#include "platform/comm_waits.h"

namespace orv {

int32_t SetLinkTimeouts(uint32_t constantMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = ReadMultiplierFor(linkState.baudRate);
    timeouts.ReadTotalTimeoutConstant = constantMs;
    timeouts.WriteTotalTimeoutMultiplier = 2;
    timeouts.WriteTotalTimeoutConstant = constantMs;
    // Zero totals would mean no bound at all: a silent device would hold the
    // read forever. The shortest bounded wait takes their place.
    if (timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0)
        timeouts.ReadTotalTimeoutConstant = 1;
    return SetCommTimeouts(linkState.portHandle, &timeouts) == 1 ? 1 : 0;
}

namespace {

void ClearPortError(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(port, &errors, &status);
}

}  // namespace

DWORD CompleteTransfer(HANDLE port, OVERLAPPED &record, BOOL started, DWORD count) {
    if (started) return count;
    if (GetLastError() != ERROR_IO_PENDING) {
        ClearPortError(port);
        return 0;
    }
    for (;;) {
        if (GetOverlappedResult(port, &record, &count, TRUE)) return count;
        if (GetLastError() != ERROR_IO_INCOMPLETE) break;
    }
    ClearPortError(port);
    return count;
}

DWORD WriteAndComplete(OVERLAPPED &record, const uint8_t *buffer, DWORD n) {
    DWORD count = 0;
    BOOL done = WriteFile(linkState.portHandle, buffer, n, &count, &record);
    return CompleteTransfer(linkState.portHandle, record, done, count);
}

DWORD ReadAndComplete(OVERLAPPED &record, uint8_t *buffer, DWORD n) {
    DWORD count = 0;
    BOOL done = ReadFile(linkState.portHandle, buffer, n, &count, &record);
    return CompleteTransfer(linkState.portHandle, record, done, count);
}

namespace {

// The longest a transmit-empty report is awaited: the time the largest block
// takes on the line at its speed (11 bits a byte at most), and a second more.
// Only a port that has gone and reports nothing ever takes that long.
DWORD TransmitEmptyBoundMs(uint32_t baudRate) {
    constexpr uint64_t kMarginMs = 1000;
    constexpr uint64_t kBitsPerByte = 11;
    if (baudRate == 0) return kMarginMs;
    return static_cast<DWORD>(kMarginMs + kBlockBufferSize * kBitsPerByte * 1000 / baudRate);
}

}  // namespace

void WaitTransmitEmpty() {
    const DWORD boundMs = TransmitEmptyBoundMs(linkState.baudRate);
    for (;;) {
        DWORD events = 0;
        // A port that has gone reports failure, or nothing within the bound:
        // either way no transmit-empty can come any more.
        if (!WaitCommEventBounded(linkState.portHandle, &events, boundMs)) return;
        if (events & EV_TXEMPTY) return;
    }
}

}  // namespace orv
