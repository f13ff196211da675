// The port I/O primitives that carry every transfer on the open port.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace orv {

// Puts the port's time-outs in force from constantMs and the line speed.
int32_t SetLinkTimeouts(uint32_t constantMs);
// One overlapped write or read, waited for to its end; the count moved.
DWORD WriteAndComplete(OVERLAPPED &record, const uint8_t *buffer, DWORD n);
DWORD ReadAndComplete(OVERLAPPED &record, uint8_t *buffer, DWORD n);
// Completes a transfer that WriteFile or ReadFile started on port with record:
// started and count are what that call returned. Gives the bytes moved; a
// failure clears the port's error state.
DWORD CompleteTransfer(HANDLE port, OVERLAPPED &record, BOOL started, DWORD count);
// Waits until the port reports that its last byte has left (or the port has gone).
void WaitTransmitEmpty();

// The read multiplier in ms per byte for a line speed (0 while none is known).
constexpr DWORD ReadMultiplierFor(uint32_t baudRate) { return baudRate == 0 ? 0 : 19200 / baudRate; }

}  // namespace orv
