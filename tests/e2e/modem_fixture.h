// A port whose other end is a modem: the library's modem link against the
// modem simulator (or against the test itself, speaking for the modem).
#pragma once

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "orvlink.h"
#include "sim/modem_sim.h"
#include "sim/sim_line.h"
#include "support/test_env.h"

extern char **environ;

namespace orv::test {

using namespace std::chrono_literals;
using sim::Clock;

constexpr int kModemPort = 7;
constexpr const char *kPhoneNumber = "5551234";

inline const std::vector<std::string> kScript = {"ATQ0", "ATE1", "AT&F",  "ATE1",
                                                 "ATN1", "AT%E1", "ATH0", "ATS0=1"};

// Threads of this process, from /proc/self/task.
inline int ThreadCount() {
    int count = 0;
    if (DIR *dir = opendir("/proc/self/task")) {
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

// Runs build/bin/orvctl with the arguments; its exit code, or -1.
inline int RunOrvctl(const std::vector<std::string> &args) {
    std::string path = ORVLINK_BINARY_DIR "/bin/orvctl";
    std::vector<char *> argv{path.data()};
    std::vector<std::string> copies = args;
    for (auto &arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

inline std::chrono::milliseconds Ms(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d);
}

class ModemLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.mapPort(kModemPort, line_.slavePath());
        env_.setLineSettings(kModemPort, "9600,n,8,1");
    }
    void TearDown() override {
        OrvCloseComm();
        if (modem_) modem_->stop();
    }

    void startModem(sim::ModemOptions options = {}) {
        modem_ = std::make_unique<sim::ModemSimulator>(std::move(options));
        modem_->start(line_);
    }
    std::vector<std::string> scriptAndDial() const {
        auto lines = kScript;
        lines.push_back(std::string("ATD") + kPhoneNumber);
        return lines;
    }

    TestEnv env_;
    sim::SimLine line_;
    std::unique_ptr<sim::ModemSimulator> modem_;  // stopped before the line goes
};

}  // namespace orv::test
