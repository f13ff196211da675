// Decodes what a tty with PARMRK set (and neither IGNPAR nor ISTRIP) hands
// over: FF FF is a data byte FF, FF 00 X marks X as received with a parity or
// framing error (or a break). A marking cut by the border of one raw read is
// finished by the next. Pure: no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::win {

class ParmrkDecoder {
public:
    struct Result {
        std::size_t produced = 0;    // data bytes written to the output
        std::size_t lineErrors = 0;  // marked bytes seen (dropped from the data)
    };

    // Worst case of output for an input of n bytes: a pending FF followed by
    // a byte that is neither FF nor 00 gives both.
    static constexpr std::size_t MaxOutput(std::size_t n) { return n + 1; }

    // Decodes raw into out, which must hold MaxOutput(raw.size()) bytes.
    Result decode(std::span<const uint8_t> raw, std::span<uint8_t> out);

    // Forgets a marking in progress (after the receive queue is purged).
    void reset() { state_ = State::Plain; }
    bool pending() const { return state_ != State::Plain; }

private:
    enum class State { Plain, Mark, MarkZero };
    State state_ = State::Plain;
};

}  // namespace orv::win
