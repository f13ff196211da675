// The system profile on Linux: one INI file. The parser is pure, for the
// library, the tools and the tests alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv::win {

// The value of key in section of an INI text: [Section] and key=value lines,
// names compared without regard to case, white space around names and
// values dropped, ';' and '#' lines are comments, a line splits at its first
// '=', and where a key stands twice the first counts. nullopt when absent.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// The profile file in force: $ORVLINK_PROFILE when set and not empty, else
// $XDG_CONFIG_HOME/orvlink/profile.ini (default ~/.config/...) when it
// exists, else /etc/orvlink/profile.ini.
std::string ProfilePath();

// The whole profile text; empty when it cannot be read.
std::string ReadProfileText();

}  // namespace orv::win
