#include "port_facts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/line_settings.h"
#include "platform/platform.h"
#include "platform/posix/profile_ini.h"

namespace orv::ctl {

namespace {

std::string SpeedList() {
    std::string list;
    for (uint32_t speed : kAcceptedSpeeds) {
        if (!list.empty()) list += ' ';
        list += std::to_string(speed);
    }
    return list;
}

// Why the library refuses the entry; empty when it takes it.
std::string EntryProblem(const LineEntry &entry, const std::string &text, bool viaModem) {
    if (entry.missing) return {};
    if (!entry.hasComma) return "'" + text + "' has no comma after the speed";
    if (!entry.speedAccepted)
        return "the speed of '" + text + "' is not one of " + SpeedList();
    if (viaModem) return {};
    if (!entry.parityAccepted)
        return "the parity of '" + text + "' is not n, o or e (small letters) right after the comma";
    if (!entry.stopBitsAccepted)
        return "the stop bits of '" + text + "' are not 1 or 2 (speed,parity,8,stop)";
    return {};
}

std::string Settings(const LineEntry &entry) {
    if (entry.missing) return "9600 8N1 (no entry: the default)";
    if (!entry.speedAccepted || !entry.parityAccepted || !entry.stopBitsAccepted) return "-";
    const char parity = entry.parity == EVENPARITY ? 'E' : entry.parity == ODDPARITY ? 'O' : 'N';
    const char stop = entry.stopBits == TWOSTOPBITS ? '2' : '1';
    return std::to_string(entry.speed) + " 8" + parity + stop;
}

}  // namespace

std::string DeviceFileProblem(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == EACCES ? "cannot be reached (no permission on its folder)" : "does not exist";
    if (!S_ISCHR(info.st_mode)) return "is not a terminal device";
    if (::access(path.c_str(), R_OK | W_OK) != 0) return "is not readable and writable by this user";
    return {};
}

PortFacts ReadPortFacts(int port) {
    PortFacts facts;
    facts.port = port;
    facts.profilePath = win::ProfilePath();
    const std::string profile = win::ReadProfileText();
    const auto mapped = win::FindProfileValue(profile, "Devices", facts.name());
    facts.mapped = mapped.has_value() && !mapped->empty();
    facts.devicePath = facts.mapped ? *mapped : std::string("/dev/ttyS") += std::to_string(port - 1);

    char text[kLineEntrySize] = {};
    if (ReadLineEntryText(port, text)) {
        const LineEntry entry = ParseLineEntry(text);
        facts.entryMissing = entry.missing;
        if (!entry.missing) facts.entryText = text;
        facts.directProblem = EntryProblem(entry, facts.entryText, false);
        facts.modemProblem = EntryProblem(entry, facts.entryText, true);
        facts.settings = Settings(entry);
    }
    facts.fileProblem = DeviceFileProblem(facts.devicePath);
    return facts;
}

}  // namespace orv::ctl
