// The four named modem events, created at every connect and released at its end.
#pragma once

namespace orv {

// "Send" (modemIo), "Receive" (modemSpareIo), "ReceiveOK", "ReceiveFail", in
// that order. False when "Send" or "Receive" cannot be created; the results
// of the other two are not judged here (the first wait fails without them).
bool CreateModemEvents();
// Releases those held, in the order ReceiveOK, ReceiveFail, Send, Receive,
// and sets each field back to null.
void ReleaseModemEvents();

}  // namespace orv
