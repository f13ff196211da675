// The port waits of platform/comm_waits.h on Windows. The port is opened for
// overlapped I/O, and there WaitCommEvent needs a completion record with an
// event of its own: without one it may report completion before any event.
// Every wait here has completed, by itself or withdrawn, before the call returns,
// so the record and the report on this stack are never written after it.
#include "platform/comm_waits.h"

namespace orv {

namespace {

// Ends a pending wait and lets its completion arrive. Setting the event mask
// again ends a pending wait, as the system documents; CancelIoEx would be the
// other way, but Wine does not find a pending WaitCommEvent by it.
BOOL Withdraw(HANDLE port, OVERLAPPED &record) {
    DWORD mask = 0;
    if (GetCommMask(port, &mask)) SetCommMask(port, mask);
    DWORD unused = 0;
    return GetOverlappedResult(port, &record, &unused, TRUE);
}

// The wake of WaitCommEventWakeable: auto-reset, one for the process, as
// there is one watcher at a time. Null when it could not be created.
HANDLE WakeEvent() {
    static const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Without a wake event the waiter looks again this often instead.
constexpr DWORD kWakeFallbackMs = 50;

// Starts WaitCommEvent on record and waits on its event together with
// `other` (or alone, for at most timeoutMs, when other is null).
BOOL WaitWithRecord(HANDLE port, DWORD *events, HANDLE other, DWORD timeoutMs) {
    *events = 0;
    OVERLAPPED record{};
    record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (record.hEvent == nullptr) return FALSE;
    BOOL done = WaitCommEvent(port, events, &record);
    if (!done && GetLastError() == ERROR_IO_PENDING) {
        const HANDLE waits[2] = {record.hEvent, other};
        const DWORD count = other != nullptr ? 2 : 1;
        const DWORD result = WaitForMultipleObjects(count, waits, FALSE, timeoutMs);
        if (result == WAIT_OBJECT_0) {
            DWORD unused = 0;
            done = GetOverlappedResult(port, &record, &unused, TRUE);
        } else {
            // Woken or out of time. A wait that completed meanwhile keeps its
            // report; a withdrawn one reports nothing and counts as failed
            // (Windows completes it with no events, Wine fails it with 995).
            done = Withdraw(port, record) && *events != 0;
        }
    }
    CloseHandle(record.hEvent);
    return done;
}

}  // namespace

BOOL WaitCommEventBounded(HANDLE port, DWORD *events, DWORD timeoutMs) {
    return WaitWithRecord(port, events, nullptr, timeoutMs);
}

BOOL WaitCommEventWakeable(HANDLE port, DWORD *events) {
    const HANDLE wake = WakeEvent();
    if (wake == nullptr) return WaitWithRecord(port, events, nullptr, kWakeFallbackMs);
    // A wake left over from the previous waiter's end is not meant for this one.
    WaitForSingleObject(wake, 0);
    return WaitWithRecord(port, events, wake, INFINITE);
}

void WakeCommEventWaiter(HANDLE) {
    if (const HANDLE wake = WakeEvent()) SetEvent(wake);
}

}  // namespace orv
