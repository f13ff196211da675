#include "modem/modem_events.h"

#include "link/link_state.h"

namespace orv {

namespace {

void Release(HANDLE &event) {
    if (event == nullptr) return;
    CloseHandle(event);
    event = nullptr;
}

// A completion record with a new manual-reset event of that name.
bool PrepareRecord(OVERLAPPED &record, const char *eventName) {
    record.Offset = 0;
    record.OffsetHigh = 0;
    record.hEvent = CreateEventA(nullptr, TRUE, FALSE, eventName);
    return record.hEvent != nullptr;
}

}  // namespace

bool CreateModemEvents() {
    if (!PrepareRecord(linkState.modemIo, "Send")) return false;
    if (!PrepareRecord(linkState.modemSpareIo, "Receive")) return false;
    linkState.responseOkEvent = CreateEventA(nullptr, FALSE, FALSE, "ReceiveOK");
    linkState.responseFailEvent = CreateEventA(nullptr, FALSE, FALSE, "ReceiveFail");
    return true;
}

void ReleaseModemEvents() {
    Release(linkState.responseOkEvent);
    Release(linkState.responseFailEvent);
    Release(linkState.modemIo.hEvent);
    Release(linkState.modemSpareIo.hEvent);
}

}  // namespace orv
