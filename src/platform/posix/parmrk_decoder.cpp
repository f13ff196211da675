#include "platform/posix/parmrk_decoder.h"

namespace orv::win {

ParmrkDecoder::Result ParmrkDecoder::decode(std::span<const uint8_t> raw,
                                            std::span<uint8_t> out) {
    Result r;
    auto emit = [&](uint8_t b) { out[r.produced++] = b; };
    for (uint8_t b : raw) {
        switch (state_) {
        case State::Plain:
            if (b == 0xFF)
                state_ = State::Mark;
            else
                emit(b);
            break;
        case State::Mark:
            if (b == 0x00) {
                state_ = State::MarkZero;
            } else {
                // FF FF is a data FF; an FF the tty did not double is taken
                // as data too, and the byte after it as itself.
                emit(0xFF);
                if (b != 0xFF) emit(b);
                state_ = State::Plain;
            }
            break;
        case State::MarkZero:
            // The byte's value came with a line error and is not trusted.
            ++r.lineErrors;
            state_ = State::Plain;
            break;
        }
    }
    return r;
}

}  // namespace orv::win
