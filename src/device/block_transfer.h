// Block transfers: the chunk loop shared by both directions, and the one
// chunk transaction of each.
#pragma once

#include <cstdint>

#include "link/link_state.h"

namespace orv {

// Told after every chunk that the device accepted; internal, for the tools'
// progress display. Never exported.
struct TransferObserver {
    void (*chunkDone)(void *context, uint32_t bytesDone, uint32_t chunkIndex) = nullptr;
    void *context = nullptr;
};

int32_t WriteChunk(const uint8_t *source, uint8_t command, uint8_t modifier, uint32_t argument,
                   uint32_t chunkIndex, uint32_t chunkLength, uint16_t &moreFlagOut,
                   uint32_t *valueOut, uint32_t replyTimeoutMs);
int32_t ReadChunk(uint8_t *destination, uint8_t command, uint8_t modifier, uint32_t argument,
                  uint32_t chunkIndex, uint32_t chunkLength, uint16_t &moreFlagOut,
                  uint32_t *valueOut, uint32_t replyTimeoutMs);

// The transfers behind OrvWriteData and OrvReadData, with an optional observer.
int32_t WriteTransfer(const uint8_t *buffer, uint32_t length, uint8_t command, uint8_t modifier,
                      uint32_t argument, uint16_t *moreFlagOut, uint32_t *valueOut,
                      uint32_t replyTimeoutMs, uint32_t chunkSize,
                      const TransferObserver *observer);
int32_t ReadTransfer(uint8_t *buffer, uint32_t length, uint8_t command, uint8_t modifier,
                     uint32_t argument, uint16_t *moreFlagOut, uint32_t *valueOut,
                     uint32_t replyTimeoutMs, uint32_t chunkSize, const TransferObserver *observer);

// The chunk loop over any chunk transaction with WriteChunk's shape
// (position, chunkIndex, chunkLength, more, value) -> truth value.
template <typename Byte, typename Transaction>
int32_t ChunkLoop(Byte *buffer, uint32_t length, uint32_t chunkSize, uint16_t *moreFlagOut,
                  uint32_t *valueOut, Transaction &&transaction,
                  const TransferObserver *observer = nullptr) {
    if (length == 0) {
        *moreFlagOut = 1;
        if (valueOut != nullptr) *valueOut = 0;
        return 1;
    }
    // A chunk of 0 bytes never advances, and one above the block buffer's
    // payload would not fit it.
    if (chunkSize == 0 || chunkSize > kMaxPayload) return 0;
    Byte *position = buffer;
    uint32_t remaining = length;
    uint32_t chunkIndex = 0;
    uint16_t more = 1;
    uint32_t value = 0;
    auto report = [&](uint32_t index) {
        if (observer != nullptr && observer->chunkDone != nullptr)
            observer->chunkDone(observer->context, length - remaining, index);
    };
    while (remaining >= chunkSize) {
        if (!transaction(position, chunkIndex, chunkSize, more, &value)) return 0;
        if (more == 0) {
            if (valueOut != nullptr) *valueOut = value;
            *moreFlagOut = 0;
            remaining -= chunkSize;
            report(chunkIndex);
            return 1;
        }
        remaining -= chunkSize;
        position += chunkSize;
        report(chunkIndex);
        ++chunkIndex;
    }
    if (remaining > 0) {
        if (!transaction(position, chunkIndex, remaining, more, &value)) return 0;
        const uint32_t lastIndex = chunkIndex;
        remaining = 0;
        report(lastIndex);
        if (valueOut != nullptr) *valueOut = value;
        *moreFlagOut = more;
        return 1;
    }
    if (valueOut != nullptr) *valueOut = value;
    *moreFlagOut = 1;
    return 1;
}

}  // namespace orv
