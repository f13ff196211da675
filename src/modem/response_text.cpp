#include "modem/response_text.h"

#include <cstring>

#include "modem/at_command.h"

namespace orv {

void ResponseText::Append(std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) {
        if (count_ < kMaxCharacters) {
            text_[count_++] = static_cast<char>(byte);
            continue;
        }
        if (EndTestPasses()) return;
        char *slide = text_.data() + kKeptBeginning;
        std::memmove(slide, slide + 1, kMaxCharacters - kKeptBeginning - 1);
        text_[kMaxCharacters - 1] = static_cast<char>(byte);
    }
}

std::string_view ResponseText::Text() const {
    return std::string_view(text_.data(), strnlen(text_.data(), kArea));
}

bool ResponseText::EndTestPasses() const {
    const std::string_view text = Text();
    if (text.find(kCommandTerminator) == std::string_view::npos) return false;
    if (text.find("OK") != std::string_view::npos) return true;
    return IsDialCommand(text_.data()) && text.find("CONNECT") != std::string_view::npos;
}

}  // namespace orv
