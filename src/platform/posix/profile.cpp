// GetProfileStringA over the profile file, read afresh at every call.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/posix/profile_ini.h"
#include "platform/posix/win_api.h"

namespace orv::win {

DWORD GetProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText, LPSTR returnedString,
                        DWORD size) {
    if (!returnedString || size == 0) return 0;
    std::optional<std::string> value;
    if (appName && keyName) value = FindProfileValue(ReadProfileText(), appName, keyName);
    std::string_view text = value ? std::string_view(*value)
                                  : std::string_view(defaultText ? defaultText : "");
    std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(returnedString, text.data(), n);
    returnedString[n] = '\0';
    return static_cast<DWORD>(n);
}

}  // namespace orv::win
