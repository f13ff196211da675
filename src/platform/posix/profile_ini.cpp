#include "platform/posix/profile_ini.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orv::win {

namespace {

std::string_view Trim(std::string_view s) {
    constexpr std::string_view space = " \t\r\n\f\v";
    auto first = s.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    auto last = s.find_last_not_of(space);
    return s.substr(first, last - first + 1);
}

// Byte by byte: an empty name may have no storage at all, and a NUL inside a
// name must not end the comparison.
bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

bool IsFile(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

const char *NonEmptyEnv(const char *name) {
    const char *value = std::getenv(name);
    return value && *value ? value : nullptr;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    section = Trim(section);
    key = Trim(key);
    bool inSection = false;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            auto close = line.find(']');
            inSection = SameName(Trim(line.substr(1, close == std::string_view::npos ? close : close - 1)),
                                 section);
            continue;
        }
        auto eq = line.find('=');
        if (!inSection || eq == std::string_view::npos) continue;
        if (SameName(Trim(line.substr(0, eq)), key)) return std::string(Trim(line.substr(eq + 1)));
    }
    return std::nullopt;
}

std::string ProfilePath() {
    if (const char *explicitPath = NonEmptyEnv("ORVLINK_PROFILE")) return explicitPath;
    std::string config;
    if (const char *xdg = NonEmptyEnv("XDG_CONFIG_HOME"))
        config = xdg;
    else if (const char *home = NonEmptyEnv("HOME"))
        config = std::string(home) + "/.config";
    if (!config.empty()) {
        std::string user = config + "/orvlink/profile.ini";
        if (IsFile(user)) return user;
    }
    return "/etc/orvlink/profile.ini";
}

std::string ReadProfileText() {
    std::ifstream in(ProfilePath(), std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return in.bad() ? std::string() : text.str();
}

}  // namespace orv::win
