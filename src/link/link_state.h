// The one process-wide record of the link.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"

namespace orv {

// A DataBlock is its payload plus 5 framing bytes; the buffer holds the largest.
constexpr std::size_t kBlockBufferSize = 10008;
constexpr std::size_t kMaxPayload = kBlockBufferSize - 5;

struct LinkState {
    HANDLE portHandle = INVALID_HANDLE_VALUE;
    int32_t viaModem = 0;
    uint32_t dialWaitSeconds = 10;
    uint32_t baudRate = 0;
    std::time_t connectedAt = 0;
    OVERLAPPED frameWriteIo{};
    OVERLAPPED frameReadIo{};
    HANDLE frameReadEvent = nullptr;
    OVERLAPPED modemIo{};
    OVERLAPPED modemSpareIo{};
    // Waited on together as one pair, responseOkEvent first.
    HANDLE responseEvents[2] = {nullptr, nullptr};
    HANDLE &responseOkEvent = responseEvents[0];
    HANDLE &responseFailEvent = responseEvents[1];
    HANDLE watcherThread = nullptr;
    std::array<uint8_t, kBlockBufferSize> blockBuffer{};
};

extern LinkState linkState;

}  // namespace orv
