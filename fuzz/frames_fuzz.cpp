// The acceptance of acknowledgement, reply and data block frames, checked
// against a plain reading of their rules, and the encoders' frames against
// the acceptance.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "protocol/frame_format.h"

namespace {

using orv::ReadLe16;
using orv::ReadLe32;

uint16_t PlainChecksum(std::span<const uint8_t> covered) {
    uint32_t sum = 0xFF;
    for (uint8_t b : covered) sum += b;
    return static_cast<uint16_t>(sum);
}

bool Opens(std::span<const uint8_t> f, uint8_t first, uint8_t second, uint8_t command) {
    return f[0] == first && f[1] == second && f[2] == command;
}

void CheckAck(uint8_t command, std::span<const uint8_t> r) {
    const bool expected = r.size() == 6 && Opens(r, 0x5A, 0xA5, command) && r[3] == 0x03;
    FUZZ_CHECK(orv::AcceptAckFrame(command, r) == expected);
}

void CheckReply(uint8_t command, std::span<const uint8_t> r) {
    const bool expected = r.size() == 10 && Opens(r, 0xAA, 0x55, command) &&
                          PlainChecksum(r.subspan(2, 6)) == ReadLe16(&r[8]);
    orv::ReplyFields fields{7, 7};
    const bool accepted = orv::AcceptReplyFrame(command, r, fields);
    FUZZ_CHECK(accepted == expected);
    if (!accepted) return;
    FUZZ_CHECK(fields.moreFlag == (r[3] == 0x01 ? 1 : 0));
    FUZZ_CHECK(fields.value == ReadLe32(&r[4]));
}

void CheckDataBlock(uint8_t command, std::span<const uint8_t> r, std::size_t n) {
    const bool header = r.size() == n + 5 && Opens(r, 0x55, 0xAA, command);
    FUZZ_CHECK(orv::AcceptDataBlockHeader(command, r, n) == header);
    if (!header) return;
    const auto payload = r.subspan(3, n);
    const uint16_t stored = ReadLe16(&r[n + 3]);
    std::vector<uint8_t> covered{command};
    covered.insert(covered.end(), payload.begin(), payload.end());
    FUZZ_CHECK(orv::AcceptDataBlockChecksum(command, payload, stored) ==
               (PlainChecksum(covered) == stored));
}

// What the device's encoders build is accepted as it was meant, and any one
// byte of a block changed is refused: the soak's corruptions rely on that.
void CheckEncoded(uint8_t command, std::span<const uint8_t> bytes) {
    const uint8_t flag = bytes.empty() ? 0 : bytes[0];
    const uint32_t value = bytes.size() >= 5 ? ReadLe32(&bytes[1]) : 0;
    const auto reply = orv::EncodeReplyFrame(command, flag, value);
    orv::ReplyFields fields;
    FUZZ_CHECK(orv::AcceptReplyFrame(command, reply, fields));
    FUZZ_CHECK(fields.value == value && fields.moreFlag == (flag == 1 ? 1 : 0));

    const std::size_t n = bytes.size() > 10003 ? 10003 : bytes.size();
    std::vector<uint8_t> block(n + 5);
    FUZZ_CHECK(orv::EncodeDataBlock(command, bytes.first(n), block) == n + 5);
    FUZZ_CHECK(orv::AcceptDataBlockHeader(command, block, n));
    FUZZ_CHECK(orv::AcceptDataBlockChecksum(command, std::span(block).subspan(3, n),
                                            ReadLe16(&block[n + 3])));
    if (n == 0) return;
    const std::size_t at = 3 + value % n;
    block[at] = static_cast<uint8_t>(block[at] + (flag == 0 ? 1 : flag));
    FUZZ_CHECK(!orv::AcceptDataBlockChecksum(command, std::span(block).subspan(3, n),
                                             ReadLe16(&block[n + 3])));
}

}  // namespace

// Input: the expected command, a byte that picks the block's payload length
// (its high bit: the length that fits what arrived), then the bytes received.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size < 2) return 0;
    const uint8_t command = data[0];
    const uint8_t lengthPick = data[1];
    const std::span<const uint8_t> received(data + 2, size - 2);
    std::size_t n = lengthPick & 0x7F;
    if ((lengthPick & 0x80) && received.size() >= 5) n = received.size() - 5;

    // Each rule tests the count first, so frames of any length are judged.
    CheckAck(command, received);
    CheckReply(command, received);
    CheckDataBlock(command, received, n);
    CheckEncoded(command, received);
    return 0;
}
