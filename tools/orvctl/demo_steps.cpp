#include "demo_steps.h"

#include <chrono>

#include "progress_bar.h"

namespace orv::ctl {

namespace {

std::string Duration(double seconds) {
    char text[32];
    if (seconds < 1)
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
    else
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

}  // namespace

void DemoSteps::run(const std::string &name, const std::function<StepResult()> &step) {
    if (failed_) {
        records_.push_back({name, false, {false, "skipped"}, 0});
        return;
    }
    execute(name, step);
}

void DemoSteps::always(const std::string &name, const std::function<StepResult()> &step) {
    execute(name, step);
}

void DemoSteps::execute(const std::string &name, const std::function<StepResult()> &step) {
    const auto start = std::chrono::steady_clock::now();
    Record record{name, true, step(), 0};
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    total_ += record.seconds;
    failed_ = failed_ || !record.result.ok;
    records_.push_back(record);
}

void DemoSteps::print(std::FILE *out) const {
    std::fprintf(out, "  %-10s %-7s %10s  %s\n", "step", "result", "time", "");
    std::string throughput;
    for (const Record &r : records_) {
        std::fprintf(out, "  %-10s %-7s %10s  %s\n", r.name.c_str(),
                     !r.ran ? "-" : r.result.ok ? "ok" : "FAILED",
                     r.ran ? Duration(r.seconds).c_str() : "", r.result.detail.c_str());
        if (r.ran && r.result.bytesPerSecond > 0)
            throughput += (throughput.empty() ? "" : ", ") + r.name + " " +
                          Bytes(r.result.bytesPerSecond) + "/s";
    }
    if (!throughput.empty()) std::fprintf(out, "throughput: %s\n", throughput.c_str());
    std::fprintf(out, "demo %s in %s\n", failed_ ? "FAILED" : "passed", Duration(total_).c_str());
    std::fflush(out);
}

}  // namespace orv::ctl
