// The modem's share of opening and closing the link.
#pragma once

#include <cstdint>

namespace orv {

// Creates the four modem events, runs the initialisation script and the dial.
// 1 when the modem answered the dial with success.
int32_t ModemConnect(const char *phoneNumber, uint32_t requestedDialWait);
// Holds the call until 3 s after it came up, then releases the modem events.
void ModemRelease();

}  // namespace orv
