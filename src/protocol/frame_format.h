// The device frames: layouts, checksum and acceptance rules. Pure functions
// over bytes; no I/O, no state. The simulators share them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orv {

constexpr std::size_t kCommandFrameSize = 14;
constexpr std::size_t kAckFrameSize = 6;
constexpr std::size_t kReplyFrameSize = 10;
constexpr std::size_t kWakeUpFrameSize = 14;
constexpr std::size_t kDataBlockOverhead = 5;  // sync pair, command, checksum

constexpr uint8_t kCommandSync[2] = {0x55, 0xAA};
constexpr uint8_t kAckSync[2] = {0x5A, 0xA5};
constexpr uint8_t kReplySync[2] = {0xAA, 0x55};
constexpr uint8_t kDataBlockSync[2] = {0x55, 0xAA};
constexpr uint8_t kAckStatusOk = 0x03;

constexpr std::array<uint8_t, kWakeUpFrameSize> WakeUpFrame = {
    0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0x4F, 0x06};

// 0xFF plus the sum of the covered bytes, modulo 65536.
uint16_t FrameChecksum(std::span<const uint8_t> covered);
// The DataBlock checksum: over the command byte followed by the payload.
uint16_t DataBlockChecksum(uint8_t command, std::span<const uint8_t> payload);

inline uint16_t ReadLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::array<uint8_t, kCommandFrameSize> EncodeCommandFrame(uint8_t command, uint8_t modifier,
                                                          uint32_t argument, uint16_t blockIndex,
                                                          uint16_t blockLength);
// Builds the block in out; returns payload.size() + 5, or 0 when out is too small.
std::size_t EncodeDataBlock(uint8_t command, std::span<const uint8_t> payload,
                            std::span<uint8_t> out);

// Device-side encoders, for the simulators and the tests.
std::array<uint8_t, kAckFrameSize> EncodeAckFrame(uint8_t command, uint8_t status);
std::array<uint8_t, kReplyFrameSize> EncodeReplyFrame(uint8_t command, uint8_t moreFlag,
                                                      uint32_t value);

// Acceptance: received holds exactly the bytes that arrived (its size is the count).
bool AcceptAckFrame(uint8_t command, std::span<const uint8_t> received);

struct ReplyFields {
    uint16_t moreFlag = 0;  // 1 when the flag byte is 0x01, else 0
    uint32_t value = 0;
};
bool AcceptReplyFrame(uint8_t command, std::span<const uint8_t> received, ReplyFields &fields);

// DataBlock of n payload bytes, in two stages: the header (count, sync, command),
// then the checksum over the command and the payload as copied out.
bool AcceptDataBlockHeader(uint8_t command, std::span<const uint8_t> received, std::size_t n);
bool AcceptDataBlockChecksum(uint8_t command, std::span<const uint8_t> payload,
                             uint16_t storedChecksum);

}  // namespace orv
