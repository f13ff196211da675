#include "link_options.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "call_output.h"
#include "orvlink.h"
#include "subcommand.h"

namespace orv::ctl {

namespace {

// True when another process holds the device open (its exclusive lock, or
// the terminal's exclusive mode refusing us).
bool HeldByAnother(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

std::string ProfileName(const PortFacts &facts) {
    if (std::ifstream(facts.profilePath)) return facts.profilePath;
    return facts.profilePath + " (no such file)";
}

}  // namespace

void AddLinkOptions(CLI::App &command, LinkOptions &options) {
    command.add_option("--port", options.port, "COM port number (1 to 999)")
        ->required()
        ->check(CLI::Range(1, 999))
        ->group("Link");
    options.modemOption =
        command.add_option("--modem", options.phone, "Dial PHONE through the modem on the port")
            ->type_name("PHONE")
            ->check([](const std::string &phone) {
                return phone.empty() || phone.size() > 60 ? std::string("PHONE has 1 to 60 characters")
                                                          : std::string();
            })
            ->group("Link");
    command.add_option("--dial-wait", options.dialWait, "Seconds to wait for the connection (10 to 60)")
        ->capture_default_str()
        ->check(CLI::Range(10, 60))
        ->group("Link");
    command.add_option("--profile", options.profile, "Profile file (default: $ORVLINK_PROFILE, ~/.config/orvlink/profile.ini, /etc/orvlink/profile.ini)")
        ->type_name("FILE")
        ->group("Link");
}

bool ApplyProfileOption(const std::string &profile) {
    if (profile.empty()) return true;
    if (!std::ifstream(profile)) {
        Fail(kExitUsage, "the profile " + profile + " cannot be read; check the path given with --profile");
        return false;
    }
    ::setenv("ORVLINK_PROFILE", profile.c_str(), 1);
    return true;
}

OpenVerdict ExplainOpenFailure(const LinkOptions &options, const PortFacts &facts) {
    const std::string call = "OrvOpenComm on " + facts.name() + " failed: ";
    const std::string &entryProblem = facts.entryProblem(options.viaModem());
    if (!entryProblem.empty())
        return {kExitUsage, call + "the profile entry " + facts.name() + ":=" + facts.entryText +
                                " is refused (" + entryProblem + "); check [Ports] in " +
                                ProfileName(facts)};
    if (!facts.fileProblem.empty()) {
        std::string check = facts.mapped
            ? "check [Devices] " + facts.name() + "= in " + ProfileName(facts)
            : facts.name() + " has no [Devices] entry in " + ProfileName(facts) +
                  "; map it there, e.g. " + facts.name() + "=/dev/ttyUSB0";
        if (facts.fileProblem.find("readable") != std::string::npos)
            check = "check its group and join it (sudo usermod -aG dialout $USER, then log in again)";
        return {kExitUsage, call + "the device file " + facts.devicePath + " " + facts.fileProblem +
                                "; " + check};
    }
    if (HeldByAnother(facts.devicePath))
        return {kExitFailed, call + facts.devicePath +
                                 " is held by another process; check with 'fuser " +
                                 facts.devicePath + "' and close it there"};
    if (options.viaModem())
        return {kExitFailed, call + "the modem on " + facts.devicePath + " did not connect to " +
                                 options.phone + " within " + std::to_string(options.dialWait) +
                                 " s; check the modem's power and cable, the number and the telephone line"};
    return {kExitFailed, call + "the port " + facts.devicePath +
                             " could not be set up; check that it is a serial port and the line settings " +
                             facts.settings};
}

std::string ExplainSilence(const std::string &call, const PortFacts &facts, bool viaModem,
                           const std::string &sofar) {
    std::string line = call + " on " + facts.label() + " failed" + sofar +
                       ": no valid answer from the device; check ";
    if (viaModem) return line + "that the device answers behind the modem and that the call still stands";
    return line + "that the device is powered and awake (orvctl wake), the cable, and the line settings " +
           facts.settings + " ([Ports] " + facts.name() + ": in " + facts.profilePath + ")";
}

int WithLink(const LinkOptions &options, const std::function<int(const PortFacts &)> &body) {
    if (!ApplyProfileOption(options.profile)) return kExitUsage;
    const PortFacts before = ReadPortFacts(options.port);
    const int32_t opened = OrvOpenComm(options.port, options.viaModem() ? 1 : 0,
                                       options.viaModem() ? options.phone.c_str() : nullptr,
                                       options.dialWait);
    if (opened != 1) {
        const OpenVerdict verdict = ExplainOpenFailure(options, before);
        return Fail(verdict.exitCode, verdict.message);
    }
    const int code = body(before);
    if (OrvCloseComm() != 1 && code == kExitDone)
        return Fail(kExitFailed, "OrvCloseComm on " + before.label() + " failed");
    return code;
}

}  // namespace orv::ctl
