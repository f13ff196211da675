// The retry rule shared by the command exchanges and the chunk transactions.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"

namespace orv {

constexpr int kAttempts = 3;
constexpr uint32_t kAckTimeoutMs = 3000;

// Frames carry no sequence number, so the host cannot tell a late answer to a
// failed attempt from the answer to the next one. Before an exchange is
// repeated the device gets the reply time-out again (at most the
// acknowledgement's) to finish answering; the repeat's purge then drops that
// late answer instead of the repeat, or the next call, taking it for its own.
inline void PauseBeforeRepeat(int attempt, uint32_t replyTimeoutMs) {
    if (attempt > 0) Sleep(std::min(replyTimeoutMs, kAckTimeoutMs));
}

}  // namespace orv
