// Waits for the port's event reports beyond the system's own WaitCommEvent:
// one bounded in time and one that another thread can cut short. Each
// platform provides them (posix/comm_waits.cpp, windows/comm_waits.cpp), so
// the algorithms above call them without knowing how a wait is made there.
#pragma once

#include "platform/platform.h"

namespace orv {

// Waits for an event of the port's mask for at most about timeoutMs. TRUE with
// the events seen; FALSE when the port failed or nothing came in time. No wait
// is left pending on the port when it returns.
BOOL WaitCommEventBounded(HANDLE port, DWORD *events, DWORD timeoutMs);

// Waits for an event of the port's mask until WakeCommEventWaiter is called
// from another thread: it then returns with no events. For one waiter at a
// time (the modem watcher); a wake given before the wait starts may be lost,
// so the waker repeats it until the waiter has gone.
BOOL WaitCommEventWakeable(HANDLE port, DWORD *events);
void WakeCommEventWaiter(HANDLE port);

}  // namespace orv
