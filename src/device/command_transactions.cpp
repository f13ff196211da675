// OrvHandshake and OrvSendCommand: one command exchange each.
#include "device/retry_rule.h"
#include "link/export_lock.h"
#include "orvlink.h"
#include "protocol/frame_exchange.h"

namespace orv {
namespace {

constexpr uint32_t kHandshakeAckTimeoutMs = 50;
constexpr uint32_t kHandshakeReplyTimeoutMs = 100;
constexpr uint16_t kSingleCommandIndex = 0xFFFF;

}  // namespace
}  // namespace orv

using namespace orv;

extern "C" ORVLINK_API int32_t ORVLINK_CALL OrvHandshake(uint8_t command, uint8_t modifier,
                                                         uint32_t argument, uint16_t *moreFlagOut,
                                                         uint32_t *valueOut) {
    ExportGuard guard(ExportMutex());
    if (moreFlagOut == nullptr) return 0;
    if (!SendCommandFrame(command, modifier, argument, 0, 0)) return 0;
    if (!AwaitAck(command, kHandshakeAckTimeoutMs)) return 0;
    uint32_t value = 0;
    if (!AwaitReply(command, *moreFlagOut, value, kHandshakeReplyTimeoutMs)) return 0;
    if (valueOut != nullptr) *valueOut = value;
    return 1;
}

extern "C" ORVLINK_API int32_t ORVLINK_CALL OrvSendCommand(uint8_t command, uint8_t modifier,
                                                           uint32_t argument,
                                                           uint16_t *moreFlagOut,
                                                           uint32_t *valueOut,
                                                           uint32_t replyTimeoutMs) {
    ExportGuard guard(ExportMutex());
    if (moreFlagOut == nullptr) return 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        PauseBeforeRepeat(attempt, replyTimeoutMs);
        // A frame that cannot go out ends the call, whatever the attempt.
        if (!SendCommandFrame(command, modifier, argument, kSingleCommandIndex, 0)) return 0;
        if (!AwaitAck(command, kAckTimeoutMs)) continue;
        uint32_t value = 0;
        if (!AwaitReply(command, *moreFlagOut, value, replyTimeoutMs)) continue;
        if (valueOut != nullptr) *valueOut = value;
        return 1;
    }
    return 0;
}
