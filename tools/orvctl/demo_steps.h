// The demo's steps: each timed, each with its result; after a failed step
// the rest are skipped, except those that must always run (the close).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace orv::ctl {

struct StepResult {
    bool ok = false;
    std::string detail;
    double bytesPerSecond = 0;  // transfers only
};

class DemoSteps {
public:
    void run(const std::string &name, const std::function<StepResult()> &step);
    void always(const std::string &name, const std::function<StepResult()> &step);
    bool passed() const { return !failed_; }
    void print(std::FILE *out) const;

private:
    struct Record {
        std::string name;
        bool ran = false;
        StepResult result;
        double seconds = 0;
    };
    void execute(const std::string &name, const std::function<StepResult()> &step);

    std::vector<Record> records_;
    bool failed_ = false;
    double total_ = 0;
};

}  // namespace orv::ctl
