// A simulator run as a program: it owns a new pseudo-terminal, tells its path
// as the first line of stdout, keeps an optional stable symlink to it, and
// runs until SIGINT, SIGTERM or SIGHUP, after which it cleans up and exits 0.
#pragma once

#include <functional>
#include <string>

namespace orv::ctl {

class SimProgram {
public:
    // Blocks the ending signals for this thread and every thread started
    // after it, so that only waitForSignal takes them.
    SimProgram();
    ~SimProgram();
    SimProgram(const SimProgram &) = delete;
    SimProgram &operator=(const SimProgram &) = delete;

    // Makes the symlink (when link is not empty), then prints the path.
    // False, with a message, when the symlink cannot be made.
    bool publish(const std::string &ptyPath, const std::string &link);

    // Returns when an ending signal arrives; tick, when given, runs about
    // every 10 ms meanwhile.
    void waitForSignal(const std::function<void()> &tick);

private:
    std::string ptyPath_;
    std::string link_;
};

}  // namespace orv::ctl
