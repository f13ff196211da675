// OrvWriteData and OrvReadData: buffers moved in numbered chunks.
#include "device/block_transfer.h"

#include "device/retry_rule.h"
#include "link/export_lock.h"
#include "orvlink.h"
#include "protocol/frame_exchange.h"

namespace orv {

int32_t WriteChunk(const uint8_t *source, uint8_t command, uint8_t modifier, uint32_t argument,
                   uint32_t chunkIndex, uint32_t chunkLength, uint16_t &moreFlagOut,
                   uint32_t *valueOut, uint32_t replyTimeoutMs) {
    const auto blockIndex = static_cast<uint16_t>(chunkIndex);
    const auto blockLength = static_cast<uint16_t>(chunkLength);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        PauseBeforeRepeat(attempt, replyTimeoutMs);
        if (!SendCommandFrame(command, modifier, argument, blockIndex, blockLength)) return 0;
        if (!AwaitAck(command, kAckTimeoutMs)) continue;
        if (!SendDataBlock(command, source, chunkLength)) return 0;
        uint32_t value = 0;
        if (!AwaitReply(command, moreFlagOut, value, replyTimeoutMs)) continue;
        if (valueOut != nullptr) *valueOut = value;
        return 1;
    }
    return 0;
}

int32_t ReadChunk(uint8_t *destination, uint8_t command, uint8_t modifier, uint32_t argument,
                  uint32_t chunkIndex, uint32_t chunkLength, uint16_t &moreFlagOut,
                  uint32_t *valueOut, uint32_t replyTimeoutMs) {
    const auto blockIndex = static_cast<uint16_t>(chunkIndex);
    const auto blockLength = static_cast<uint16_t>(chunkLength);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        PauseBeforeRepeat(attempt, replyTimeoutMs);
        if (!SendCommandFrame(command, modifier, argument, blockIndex, blockLength)) return 0;
        if (!AwaitAck(command, kAckTimeoutMs)) continue;
        uint32_t value = 0;
        if (!AwaitReply(command, moreFlagOut, value, replyTimeoutMs)) continue;
        if (moreFlagOut == 1 &&
            !ReceiveDataBlock(command, destination, chunkLength, replyTimeoutMs))
            continue;
        if (valueOut != nullptr) *valueOut = value;
        return 1;
    }
    return 0;
}

int32_t WriteTransfer(const uint8_t *buffer, uint32_t length, uint8_t command, uint8_t modifier,
                      uint32_t argument, uint16_t *moreFlagOut, uint32_t *valueOut,
                      uint32_t replyTimeoutMs, uint32_t chunkSize,
                      const TransferObserver *observer) {
    if (moreFlagOut == nullptr) return 0;
    if (buffer == nullptr && length > 0) return 0;
    return ChunkLoop(
        buffer, length, chunkSize, moreFlagOut, valueOut,
        [&](const uint8_t *position, uint32_t index, uint32_t chunkLength, uint16_t &more,
            uint32_t *value) {
            return WriteChunk(position, command, modifier, argument, index, chunkLength, more,
                              value, replyTimeoutMs);
        },
        observer);
}

int32_t ReadTransfer(uint8_t *buffer, uint32_t length, uint8_t command, uint8_t modifier,
                     uint32_t argument, uint16_t *moreFlagOut, uint32_t *valueOut,
                     uint32_t replyTimeoutMs, uint32_t chunkSize, const TransferObserver *observer) {
    if (moreFlagOut == nullptr) return 0;
    if (buffer == nullptr && length > 0) return 0;
    return ChunkLoop(
        buffer, length, chunkSize, moreFlagOut, valueOut,
        [&](uint8_t *position, uint32_t index, uint32_t chunkLength, uint16_t &more,
            uint32_t *value) {
            return ReadChunk(position, command, modifier, argument, index, chunkLength, more,
                             value, replyTimeoutMs);
        },
        observer);
}

}  // namespace orv

using namespace orv;

extern "C" ORVLINK_API int32_t ORVLINK_CALL OrvWriteData(const uint8_t *buffer, uint32_t length,
                                                         uint8_t command, uint8_t modifier,
                                                         uint32_t argument,
                                                         uint16_t *moreFlagOut,
                                                         uint32_t *valueOut,
                                                         uint32_t replyTimeoutMs,
                                                         uint32_t chunkSize) {
    ExportGuard guard(ExportMutex());
    return WriteTransfer(buffer, length, command, modifier, argument, moreFlagOut, valueOut,
                         replyTimeoutMs, chunkSize, nullptr);
}

extern "C" ORVLINK_API int32_t ORVLINK_CALL OrvReadData(uint8_t *buffer, uint32_t length,
                                                        uint8_t command, uint8_t modifier,
                                                        uint32_t argument, uint16_t *moreFlagOut,
                                                        uint32_t *valueOut,
                                                        uint32_t replyTimeoutMs,
                                                        uint32_t chunkSize) {
    ExportGuard guard(ExportMutex());
    return ReadTransfer(buffer, length, command, modifier, argument, moreFlagOut, valueOut,
                        replyTimeoutMs, chunkSize, nullptr);
}
