// Completion of the modem's writes and reads on modemIo, as the link completes
// its own transfers, but on the port the modem exchange was given.
#pragma once

#include "platform/platform.h"

namespace orv {

// started is what WriteFile or ReadFile returned, count what it reported.
// Returns the bytes moved; a failure clears the port's error state.
DWORD CompleteModemTransfer(HANDLE port, BOOL started, DWORD count);

}  // namespace orv
