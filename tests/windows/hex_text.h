// Bytes as lowercase hex text, the form both ends of the Wine tests' control
// channel use for frames and regions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::hextext {

inline std::string Hex(const std::vector<uint8_t> &bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

inline std::vector<uint8_t> FromHex(const std::string &text) {
    if (text.size() % 2 != 0) throw std::invalid_argument("odd hex");
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

}  // namespace orv::hextext
