// The port waits of platform/comm_waits.h over this layer's WaitCommEvent,
// which takes no completion record and blocks until it has a report.
#include "platform/comm_waits.h"

namespace orv {

// This layer's wait is bounded already: a transmit-empty report is due by a
// deadline after every write, and a port that has gone fails the wait.
BOOL WaitCommEventBounded(HANDLE port, DWORD *events, DWORD) {
    return WaitCommEvent(port, events, nullptr);
}

BOOL WaitCommEventWakeable(HANDLE port, DWORD *events) {
    return WaitCommEvent(port, events, nullptr);
}

// A change of the event mask ends a pending wait at once with no events; the
// mask is set again to what it is.
void WakeCommEventWaiter(HANDLE port) {
    DWORD mask = 0;
    if (GetCommMask(port, &mask)) SetCommMask(port, mask);
}

}  // namespace orv
