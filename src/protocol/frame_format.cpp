#include "protocol/frame_format.h"

#include <algorithm>

namespace orv {

uint16_t FrameChecksum(std::span<const uint8_t> covered) {
    uint32_t sum = 0xFF;
    for (uint8_t b : covered) sum += b;
    return static_cast<uint16_t>(sum);
}

uint16_t DataBlockChecksum(uint8_t command, std::span<const uint8_t> payload) {
    return static_cast<uint16_t>(FrameChecksum(payload) + command);
}

std::array<uint8_t, kCommandFrameSize> EncodeCommandFrame(uint8_t command, uint8_t modifier,
                                                          uint32_t argument, uint16_t blockIndex,
                                                          uint16_t blockLength) {
    std::array<uint8_t, kCommandFrameSize> f{};
    f[0] = kCommandSync[0];
    f[1] = kCommandSync[1];
    f[2] = command;
    f[3] = modifier;
    WriteLe32(&f[4], argument);
    WriteLe16(&f[8], blockIndex);
    WriteLe16(&f[10], blockLength);
    WriteLe16(&f[12], FrameChecksum(std::span(f).subspan(2, 10)));
    return f;
}

std::size_t EncodeDataBlock(uint8_t command, std::span<const uint8_t> payload,
                            std::span<uint8_t> out) {
    const std::size_t total = payload.size() + kDataBlockOverhead;
    if (out.size() < total) return 0;
    out[0] = kDataBlockSync[0];
    out[1] = kDataBlockSync[1];
    out[2] = command;
    std::copy(payload.begin(), payload.end(), out.begin() + 3);
    WriteLe16(&out[3 + payload.size()], DataBlockChecksum(command, payload));
    return total;
}

std::array<uint8_t, kAckFrameSize> EncodeAckFrame(uint8_t command, uint8_t status) {
    return {kAckSync[0], kAckSync[1], command, status, 0x00, 0x00};
}

std::array<uint8_t, kReplyFrameSize> EncodeReplyFrame(uint8_t command, uint8_t moreFlag,
                                                      uint32_t value) {
    std::array<uint8_t, kReplyFrameSize> f{};
    f[0] = kReplySync[0];
    f[1] = kReplySync[1];
    f[2] = command;
    f[3] = moreFlag;
    WriteLe32(&f[4], value);
    WriteLe16(&f[8], FrameChecksum(std::span(f).subspan(2, 6)));
    return f;
}

bool AcceptAckFrame(uint8_t command, std::span<const uint8_t> received) {
    return received.size() == kAckFrameSize && received[0] == kAckSync[0] &&
           received[1] == kAckSync[1] && received[2] == command && received[3] == kAckStatusOk;
}

bool AcceptReplyFrame(uint8_t command, std::span<const uint8_t> received, ReplyFields &fields) {
    if (received.size() != kReplyFrameSize) return false;
    if (received[0] != kReplySync[0] || received[1] != kReplySync[1]) return false;
    if (received[2] != command) return false;
    if (FrameChecksum(received.subspan(2, 6)) != ReadLe16(&received[8])) return false;
    fields.moreFlag = received[3] == 0x01 ? 1 : 0;
    fields.value = ReadLe32(&received[4]);
    return true;
}

bool AcceptDataBlockHeader(uint8_t command, std::span<const uint8_t> received, std::size_t n) {
    return received.size() == n + kDataBlockOverhead && received[0] == kDataBlockSync[0] &&
           received[1] == kDataBlockSync[1] && received[2] == command;
}

bool AcceptDataBlockChecksum(uint8_t command, std::span<const uint8_t> payload,
                             uint16_t storedChecksum) {
    return DataBlockChecksum(command, payload) == storedChecksum;
}

}  // namespace orv
