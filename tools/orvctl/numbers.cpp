#include "numbers.h"

#include <CLI/CLI.hpp>

#include <cctype>

namespace orv::ctl {

uint64_t ParseNumber(const std::string &text, uint64_t max, const std::string &what) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const uint64_t base = hex ? 16 : 10;
    uint64_t value = 0;
    bool ok = !digits.empty();
    for (char c : digits) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : hex && std::isxdigit(static_cast<unsigned char>(c))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (digit < 0 || value > (max - static_cast<uint64_t>(digit)) / base) {
            ok = false;
            break;
        }
        value = value * base + static_cast<uint64_t>(digit);
    }
    if (!ok)
        throw CLI::ValidationError(what, "'" + text + "' is not a number from 0 to " +
                                             std::to_string(max) + " (decimal or 0x hex)");
    return value;
}

}  // namespace orv::ctl
