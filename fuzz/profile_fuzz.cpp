// The profile reader and the line entries it yields: FindProfileValue
// checked against a plain reading of the INI rules, and ParseLineEntry
// against the entry's fields, both on the text the library would hand it
// (cut to 19 characters) and on raw bytes.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "link/line_settings.h"
#include "platform/posix/profile_ini.h"

namespace {

constexpr std::string_view kSpace = " \t\r\n\f\v";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Line by line: the first key=value of the section wins.
std::optional<std::string> PlainLookup(std::string_view text, std::string_view section,
                                       std::string_view key) {
    bool inSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const std::string_view inner = line.substr(1);
            inSection = SameName(Trim(inner.substr(0, inner.find(']'))), Trim(section));
            continue;
        }
        const auto eq = line.find('=');
        if (inSection && eq != std::string_view::npos && SameName(Trim(line.substr(0, eq)), Trim(key)))
            return std::string(Trim(line.substr(eq + 1)));
    }
    return std::nullopt;
}

void CheckLineEntry(std::string_view text) {
    const orv::LineEntry entry = orv::ParseLineEntry(text);
    if (text == orv::kKeyNotFound) {
        FUZZ_CHECK(entry.missing);
        return;
    }
    FUZZ_CHECK(!entry.missing);
    const auto comma = text.find(',');
    FUZZ_CHECK(entry.hasComma == (comma != std::string_view::npos));
    if (!entry.hasComma) {
        FUZZ_CHECK(!entry.speedAccepted && !entry.parityAccepted && !entry.stopBitsAccepted);
        return;
    }
    const std::string speedText(text.substr(0, comma));
    const long speed = std::strtol(speedText.c_str(), nullptr, 10);
    const bool listed = std::find(std::begin(orv::kAcceptedSpeeds), std::end(orv::kAcceptedSpeeds),
                                  speed) != std::end(orv::kAcceptedSpeeds);
    FUZZ_CHECK(entry.speedAccepted == listed);
    if (!listed) {
        FUZZ_CHECK(!entry.parityAccepted && !entry.stopBitsAccepted);
        return;
    }
    FUZZ_CHECK(entry.speed == static_cast<uint32_t>(speed));
    const char parity = comma + 1 < text.size() ? text[comma + 1] : '\0';
    FUZZ_CHECK(entry.parityAccepted == (parity == 'n' || parity == 'o' || parity == 'e'));
    const char stop = comma + 5 < text.size() ? text[comma + 5] : '\0';
    FUZZ_CHECK(entry.stopBitsAccepted == (stop == '1' || stop == '2'));
}

// The library reads an entry into 20 bytes: at most 19 characters, up to a NUL.
void CheckAsTheLibraryReadsIt(const std::string &value) {
    char text[orv::kLineEntrySize] = {};
    std::memcpy(text, value.data(), std::min(value.size(), sizeof text - 1));
    CheckLineEntry(std::string_view(text));
}

}  // namespace

// Input: a section name line, a key line, then the profile text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    CheckLineEntry(input);

    const auto first = input.find('\n');
    if (first == std::string_view::npos) return 0;
    const auto second = input.find('\n', first + 1);
    if (second == std::string_view::npos) return 0;
    const std::string_view section = input.substr(0, first);
    const std::string_view key = input.substr(first + 1, second - first - 1);
    const std::string_view text = input.substr(second + 1);

    // The Ports section as the library asks it.
    if (const auto entry = orv::win::FindProfileValue(text, "Ports", "COM1:"))
        CheckAsTheLibraryReadsIt(*entry);

    const auto value = orv::win::FindProfileValue(text, section, key);
    const auto plain = PlainLookup(text, section, key);
    FUZZ_CHECK(value.has_value() == plain.has_value());
    if (!value) return 0;
    FUZZ_CHECK(*value == *plain);
    FUZZ_CHECK(value->find('\n') == std::string::npos);
    FUZZ_CHECK(Trim(*value) == *value);
    CheckAsTheLibraryReadsIt(*value);
    return 0;
}
