#include "sim_program.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "call_output.h"
#include "subcommand.h"

namespace orv::ctl {

namespace {

sigset_t EndingSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// True when path is a symlink that still leads to target.
bool LinksTo(const std::string &path, const std::string &target) {
    std::error_code error;
    return std::filesystem::is_symlink(path, error) &&
           std::filesystem::read_symlink(path, error).string() == target;
}

}  // namespace

SimProgram::SimProgram() {
    const sigset_t set = EndingSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader of our stdout that goes away must not end the simulator.
    signal(SIGPIPE, SIG_IGN);
}

SimProgram::~SimProgram() {
    if (!link_.empty() && LinksTo(link_, ptyPath_)) ::unlink(link_.c_str());
}

bool SimProgram::publish(const std::string &ptyPath, const std::string &link) {
    ptyPath_ = ptyPath;
    if (!link.empty()) {
        std::error_code error;
        const auto status = std::filesystem::symlink_status(link, error);
        if (std::filesystem::exists(status) && !std::filesystem::is_symlink(status)) {
            Fail(kExitUsage, "--link " + link + " exists and is not a symlink; choose another path");
            return false;
        }
        // A new name, then a rename over the old one: a stale link from an
        // earlier run is replaced in one step.
        const std::string temporary = link + ".new-" + std::to_string(::getpid());
        ::unlink(temporary.c_str());
        if (::symlink(ptyPath.c_str(), temporary.c_str()) != 0 ||
            ::rename(temporary.c_str(), link.c_str()) != 0) {
            const std::string why = std::strerror(errno);
            ::unlink(temporary.c_str());
            Fail(kExitUsage, "cannot make the symlink " + link + " (" + why + "); check its folder");
            return false;
        }
        link_ = link;
    }
    std::printf("%s\n", ptyPath.c_str());
    std::fflush(stdout);
    return true;
}

void SimProgram::waitForSignal(const std::function<void()> &tick) {
    const sigset_t set = EndingSignals();
    for (;;) {
        int signal = 0;
        if (tick) {
            const timespec slice{0, 10 * 1000 * 1000};
            signal = sigtimedwait(&set, nullptr, &slice);
        } else {
            signal = sigwaitinfo(&set, nullptr);
        }
        if (signal > 0) return;
        if (tick) tick();
    }
}

}  // namespace orv::ctl
