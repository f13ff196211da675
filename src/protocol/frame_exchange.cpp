#include "protocol/frame_exchange.h"

#include <algorithm>
#include <span>

#include "link/link_state.h"
#include "link/port_io.h"
#include "protocol/frame_format.h"

namespace orv {

int32_t SendCommandFrame(uint8_t command, uint8_t modifier, uint32_t argument,
                         uint16_t blockIndex, uint16_t blockLength) {
    const auto frame = EncodeCommandFrame(command, modifier, argument, blockIndex, blockLength);
    // Drops whatever an earlier attempt left behind, a late answer included.
    PurgeComm(linkState.portHandle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (!SetLinkTimeouts(kCommandFrameTimeoutMs)) return 0;
    Sleep(1);
    const DWORD written = WriteAndComplete(linkState.frameWriteIo, frame.data(), kCommandFrameSize);
    WaitTransmitEmpty();
    Sleep(1);
    return written == kCommandFrameSize ? 1 : 0;
}

int32_t AwaitAck(uint8_t command, uint32_t timeoutMs) {
    if (!SetLinkTimeouts(timeoutMs)) return 0;
    uint8_t frame[kAckFrameSize];
    const DWORD count = ReadAndComplete(linkState.frameReadIo, frame, kAckFrameSize);
    return AcceptAckFrame(command, std::span<const uint8_t>(frame, count)) ? 1 : 0;
}

int32_t AwaitReply(uint8_t command, uint16_t &moreFlag, uint32_t &value, uint32_t timeoutMs) {
    if (!SetLinkTimeouts(timeoutMs)) return 0;
    uint8_t frame[kReplyFrameSize];
    const DWORD count = ReadAndComplete(linkState.frameReadIo, frame, kReplyFrameSize);
    ReplyFields fields;
    if (!AcceptReplyFrame(command, std::span<const uint8_t>(frame, count), fields)) return 0;
    moreFlag = fields.moreFlag;
    value = fields.value;
    return 1;
}

int32_t SendDataBlock(uint8_t command, const uint8_t *source, uint32_t n) {
    if (n > kMaxPayload) return 0;
    auto &block = linkState.blockBuffer;
    const std::size_t total =
        EncodeDataBlock(command, std::span<const uint8_t>(source, n), std::span(block));
    if (!SetLinkTimeouts(kOutgoingBlockTimeoutMs)) return 0;
    const DWORD written = WriteAndComplete(linkState.frameWriteIo, block.data(),
                                           static_cast<DWORD>(total));
    Sleep(1);
    WaitTransmitEmpty();
    Sleep(1);
    return written == total ? 1 : 0;
}

int32_t ReceiveDataBlock(uint8_t command, uint8_t *destination, uint32_t n, uint32_t timeoutMs) {
    if (n > kMaxPayload) return 0;
    if (!SetLinkTimeouts(timeoutMs)) return 0;
    auto &block = linkState.blockBuffer;
    const DWORD total = n + static_cast<DWORD>(kDataBlockOverhead);
    const DWORD count = ReadAndComplete(linkState.frameReadIo, block.data(), total);
    if (!AcceptDataBlockHeader(command, std::span<const uint8_t>(block.data(), count), n))
        return 0;
    std::copy_n(block.data() + 3, n, destination);
    const uint16_t stored = ReadLe16(block.data() + 3 + n);
    return AcceptDataBlockChecksum(command, std::span<const uint8_t>(destination, n), stored) ? 1
                                                                                            : 0;
}

}  // namespace orv
