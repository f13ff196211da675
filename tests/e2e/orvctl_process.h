// orvctl as the tests meet it: a process with its exit code, its stdout and
// its stderr; and a simulator process, whose first stdout line is its
// pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace orv::test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline std::string OrvctlPath() { return ORVLINK_BINARY_DIR "/bin/orvctl"; }

struct Finished {
    int exitCode = -1;  // -1: killed by a signal or still running at the deadline
    std::string out;
    std::string err;
};

// A child process with its stdout and stderr on pipes.
class Child {
public:
    explicit Child(std::vector<std::string> argv) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char *> args;
        for (auto &arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) close(outFd_);
        if (errFd_ >= 0) close(errFd_);
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string &out() const { return out_; }
    const std::string &err() const { return err_; }

    // Reads whatever arrives until pred holds for stdout, or the deadline.
    template <typename Pred>
    bool readUntil(Pred pred, Clock::time_point deadline) {
        while (!pred(out_)) {
            if (!pump(deadline)) return pred(out_);
        }
        return true;
    }
    // The first stdout line, without its newline; empty at the deadline.
    std::string firstLine(Clock::duration within = 10s) {
        readUntil([](const std::string &s) { return s.find('\n') != std::string::npos; },
                  Clock::now() + within);
        const auto end = out_.find('\n');
        return end == std::string::npos ? std::string() : out_.substr(0, end);
    }
    // Waits for the end of the process, reading its output meanwhile.
    Finished finish(Clock::duration within = 60s) {
        const auto deadline = Clock::now() + within;
        while (pump(deadline)) {
        }
        Finished done;
        int status = 0;
        while (!reaped_ && Clock::now() < deadline + 1s) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
            else std::this_thread::sleep_for(5ms);
        }
        if (reaped_ && WIFEXITED(status)) done.exitCode = WEXITSTATUS(status);
        done.out = out_;
        done.err = err_;
        return done;
    }

private:
    // One poll of both pipes; false once both are closed or at the deadline.
    bool pump(Clock::time_point deadline) {
        if (outFd_ < 0 && errFd_ < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
        drain(fds[0], outFd_, out_);
        drain(fds[1], errFd_, err_);
        return true;
    }
    static void drain(const pollfd &ready, int &fd, std::string &into) {
        if (fd < 0 || ready.revents == 0) return;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    bool reaped_ = false;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_, err_;
};

// Runs orvctl with the arguments to its end.
inline Finished RunOrvctl(std::vector<std::string> args, Clock::duration within = 60s) {
    args.insert(args.begin(), OrvctlPath());
    Child child(std::move(args));
    EXPECT_TRUE(child.started());
    return child.finish(within);
}

// `orvctl sim ...` running in the background, with its pseudo-terminal.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) : child_(WithTool(std::move(args))) {
        path_ = child_.firstLine();
    }
    const std::string &path() const { return path_; }
    Child &child() { return child_; }
    Finished stop(int signal = SIGTERM) {
        kill(child_.pid(), signal);
        return child_.finish(10s);
    }

private:
    static std::vector<std::string> WithTool(std::vector<std::string> args) {
        args.insert(args.begin(), OrvctlPath());
        return args;
    }
    Child child_;
    std::string path_;
};

}  // namespace orv::test
