#include "modem/modem_transfer.h"

#include "link/link_state.h"

namespace orv {

namespace {

void ClearPortError(HANDLE port) {
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);
}

}  // namespace

DWORD CompleteModemTransfer(HANDLE port, BOOL started, DWORD count) {
    if (started) return count;
    if (GetLastError() != ERROR_IO_PENDING) {
        ClearPortError(port);
        return 0;
    }
    for (;;) {
        if (GetOverlappedResult(port, &linkState.modemIo, &count, TRUE)) return count;
        if (GetLastError() != ERROR_IO_INCOMPLETE) break;
    }
    ClearPortError(port);
    return count;
}

}  // namespace orv
