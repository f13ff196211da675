// The five primitives that each move exactly one device frame over the open
// port. None retries; the device operations decide the order and the retries.
#pragma once

#include <cstdint>

namespace orv {

int32_t SendCommandFrame(uint8_t command, uint8_t modifier, uint32_t argument,
                         uint16_t blockIndex, uint16_t blockLength);
int32_t AwaitAck(uint8_t command, uint32_t timeoutMs);
// Writes moreFlag and value only when an acceptable reply arrived.
int32_t AwaitReply(uint8_t command, uint16_t &moreFlag, uint32_t &value, uint32_t timeoutMs);
int32_t SendDataBlock(uint8_t command, const uint8_t *source, uint32_t n);
// The payload is copied to destination before the checksum is judged.
int32_t ReceiveDataBlock(uint8_t command, uint8_t *destination, uint32_t n, uint32_t timeoutMs);

// The time-out constants the primitives put in force.
constexpr uint32_t kCommandFrameTimeoutMs = 1000;
constexpr uint32_t kOutgoingBlockTimeoutMs = 3000;

}  // namespace orv
