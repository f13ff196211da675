// The PARMRK decoder: raw tty input cut into reads anywhere must decode as
// the whole does, within the output bound, with every marked byte counted
// and never handed on as data.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/parmrk_decoder.h"

namespace {

using orv::win::ParmrkDecoder;

struct Decoded {
    std::vector<uint8_t> data;
    std::size_t lineErrors = 0;
    bool pending = false;
};

// Decodes raw in reads of the given sizes (cycled), each into an area of
// exactly the bound the decoder states, guarded on both sides.
Decoded DecodeInReads(std::span<const uint8_t> raw, std::span<const uint8_t> sizes) {
    constexpr uint8_t kGuard = 0xA7;
    constexpr std::size_t kGuardBytes = 8;
    ParmrkDecoder decoder;
    Decoded out;
    std::size_t at = 0;
    for (std::size_t i = 0; at < raw.size(); ++i) {
        std::size_t n = sizes.empty() ? raw.size() : sizes[i % sizes.size()] % 64 + 1;
        if (n > raw.size() - at) n = raw.size() - at;
        std::vector<uint8_t> area(ParmrkDecoder::MaxOutput(n) + 2 * kGuardBytes, kGuard);
        const auto result = decoder.decode(
            raw.subspan(at, n), std::span(area).subspan(kGuardBytes, ParmrkDecoder::MaxOutput(n)));
        FUZZ_CHECK(result.produced <= ParmrkDecoder::MaxOutput(n));
        for (std::size_t g = 0; g < kGuardBytes; ++g) {
            FUZZ_CHECK(area[g] == kGuard);
            FUZZ_CHECK(area[area.size() - 1 - g] == kGuard);
        }
        out.data.insert(out.data.end(), area.begin() + kGuardBytes,
                        area.begin() + static_cast<std::ptrdiff_t>(kGuardBytes + result.produced));
        out.lineErrors += result.lineErrors;
        at += n;
    }
    out.pending = decoder.pending();
    return out;
}

// Counts the markings FF 00 X of a whole input, read from the start.
std::size_t PlainMarkings(std::span<const uint8_t> raw) {
    std::size_t marks = 0;
    for (std::size_t i = 0; i < raw.size();) {
        if (raw[i] != 0xFF) { ++i; continue; }
        if (i + 1 >= raw.size()) break;
        if (raw[i + 1] == 0x00) {
            if (i + 2 < raw.size()) ++marks;
            i += 3;
        } else {
            i += raw[i + 1] == 0xFF ? 2 : 1;
        }
    }
    return marks;
}

}  // namespace

// Input: a count byte, that many read sizes, then the raw bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t sizeCount = data[0] % 16 < size - 1 ? data[0] % 16 : size - 1;
    const std::span<const uint8_t> sizes(data + 1, sizeCount);
    const std::span<const uint8_t> raw(data + 1 + sizeCount, size - 1 - sizeCount);

    const Decoded whole = DecodeInReads(raw, {});
    const Decoded pieces = DecodeInReads(raw, sizes);
    FUZZ_CHECK(pieces.data == whole.data);
    FUZZ_CHECK(pieces.lineErrors == whole.lineErrors);
    FUZZ_CHECK(pieces.pending == whole.pending);
    FUZZ_CHECK(whole.lineErrors == PlainMarkings(raw));
    return 0;
}
