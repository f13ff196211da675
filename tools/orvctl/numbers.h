// Numbers on the command line: decimal or 0x-prefixed hexadecimal, checked
// against the width of what they become (no octal surprises from "010").
#pragma once

#include <cstdint>
#include <string>

namespace orv::ctl {

// The value of text, or a CLI::ValidationError naming `what`.
uint64_t ParseNumber(const std::string &text, uint64_t max, const std::string &what);

inline uint8_t ParseByte(const std::string &text, const std::string &what) {
    return static_cast<uint8_t>(ParseNumber(text, 0xFF, what));
}
inline uint32_t ParseWord(const std::string &text, const std::string &what) {
    return static_cast<uint32_t>(ParseNumber(text, 0xFFFFFFFF, what));
}

}  // namespace orv::ctl
