// AwaitModemResponse: the host's side of the wait for the modem's answer.
#include "link/link_state.h"
#include "modem/at_command.h"

namespace orv {

namespace {

// A watcher that signalled just as the previous wait gave up left its signal
// on the auto-reset event; it must not pass the next command unanswered.
void DiscardLeftOverSignal() { WaitForSingleObject(linkState.responseOkEvent, 0); }

uint32_t SliceLimit(const char *atCommand) {
    return IsDialCommand(atCommand) ? linkState.dialWaitSeconds * kSlicesPerDialSecond
                                    : kCommandSlices;
}

}  // namespace

int32_t AwaitModemResponse(HANDLE port, const char *atCommand) {
    DiscardLeftOverSignal();
    ClearWatcherStop();
    linkState.watcherThread = CreateThread(nullptr, 0, ModemResponseWatcher, port, 0, nullptr);
    if (linkState.watcherThread == nullptr) return 0;

    const uint32_t sliceLimit = SliceLimit(atCommand);
    uint32_t slices = 0;
    for (;;) {
        const DWORD result =
            WaitForMultipleObjects(2, linkState.responseEvents, FALSE, kWaitSliceMs);
        if (result == WAIT_OBJECT_0) {
            EndWatcher(port);  // it ends by itself; the join makes sure
            return 1;
        }
        if (result == WAIT_TIMEOUT && ++slices < sliceLimit) continue;
        EndWatcher(port);
        return 0;
    }
}

}  // namespace orv
