// What the modem has sent back for one command, and the test for its end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orv {

// At most 255 characters and a NUL. Output beyond that keeps the first three
// characters, which tell a dial's echo, and slides the rest along so that the
// latest output stays: "OK" or "CONNECT" and their CR at the end of long
// output are still seen. Once the text holds its answer nothing more is
// taken in, so later output cannot push the answer out before it is judged.
// The area never overflows and stays NUL-terminated.
class ResponseText {
public:
    static constexpr std::size_t kArea = 256;
    static constexpr std::size_t kMaxCharacters = kArea - 1;
    static constexpr std::size_t kKeptBeginning = 3;

    void Append(std::span<const uint8_t> bytes);
    // A CR, and "OK" anywhere, or "CONNECT" when the text begins with "ATD".
    bool EndTestPasses() const;
    // The text up to its first NUL.
    std::string_view Text() const;
    uint32_t Count() const { return count_; }

private:
    std::array<char, kArea> text_{};
    uint32_t count_ = 0;
};

}  // namespace orv
