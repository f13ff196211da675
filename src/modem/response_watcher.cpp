// ModemResponseWatcher: collects the modem's output for one command on a
// thread of its own and signals responseOkEvent on the success answer.
#include <array>
#include <atomic>

#include "link/link_state.h"
#include "modem/at_command.h"
#include "modem/response_text.h"
#include "platform/comm_waits.h"

namespace orv {

namespace {

std::atomic<bool> watcherStopRequested{false};

bool StopRequested() { return watcherStopRequested.load(std::memory_order_acquire); }

// Ends the wait for the port's events that the watcher blocks in, the
// platform's own way: a change of the event mask on Linux, a stop event
// waited on beside the wait's completion event on Windows.
void WakeWatcher(HANDLE port) { WakeCommEventWaiter(port); }

// Reads until nothing more is queued. False when nothing was read.
bool Drain(HANDLE port, ResponseText &responseText) {
    std::array<uint8_t, kModemReadArea> readArea;
    bool readAny = false;
    while (!StopRequested()) {
        const DWORD count = ReadModemBytes(port, readArea);
        if (count == 0) break;
        responseText.Append(std::span(readArea).first(count));
        readAny = true;
    }
    return readAny;
}

}  // namespace

void ClearWatcherStop() { watcherStopRequested.store(false, std::memory_order_release); }

DWORD WINAPI ModemResponseWatcher(LPVOID parameter) {
    HANDLE port = parameter;
    if (!SetCommMask(port, kWatcherEventMask)) return 0;
    ResponseText responseText;
    bool txEmptySeen = false;
    for (;;) {
        if (StopRequested()) return 0;
        DWORD report = 0;
        WaitCommEventWakeable(port, &report);
        if (StopRequested()) return 0;
        // Until the command line has left the port every report is ignored;
        // characters meanwhile stay queued for the first drain after it.
        if (report & EV_TXEMPTY) {
            txEmptySeen = true;
        } else if (!txEmptySeen) {
            continue;
        }
        if (!(report & EV_RXCHAR)) continue;
        if (!Drain(port, responseText)) continue;
        if (!responseText.EndTestPasses()) continue;
        if (StopRequested()) return 0;
        SetEvent(linkState.responseOkEvent);
        return 1;
    }
}

void EndWatcher(HANDLE port) {
    HANDLE thread = linkState.watcherThread;
    if (thread == nullptr) return;
    watcherStopRequested.store(true, std::memory_order_release);
    // A wake that comes just before the watcher enters its wait is missed;
    // it is repeated until the join succeeds, a millisecond at most apart.
    constexpr DWORD kWakeRepeatMs = 1;
    do {
        WakeWatcher(port);
    } while (WaitForSingleObject(thread, kWakeRepeatMs) == WAIT_TIMEOUT);
    CloseHandle(thread);
    linkState.watcherThread = nullptr;
}

}  // namespace orv
