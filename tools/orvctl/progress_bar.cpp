#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>

namespace orv::ctl {

std::string Bytes(double count) {
    static const char *const units[] = {"B", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (count >= 1024 && unit < 3) {
        count /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", count, units[unit]);
    return text;
}

ProgressBar::ProgressBar(std::string label, uint64_t total, bool shown)
    : label_(std::move(label)), total_(total), shown_(shown) {}

bool ProgressBar::StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void ProgressBar::update(uint64_t done) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (done < total_ && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    draw(done);
}

void ProgressBar::draw(uint64_t done) {
    constexpr int kWidth = 24;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const double fraction = total_ > 0 ? static_cast<double>(done) / static_cast<double>(total_) : 1;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '.');
    char left[32] = "--:--";
    if (rate > 0) {
        const auto secondsLeft = static_cast<long>(static_cast<double>(total_ - done) / rate);
        std::snprintf(left, sizeof left, "%ld:%02ld", secondsLeft / 60, secondsLeft % 60);
    }
    std::fprintf(stderr, "\r%s [%s] %s / %s  %s/s  %s left\x1b[K", label_.c_str(), bar.c_str(),
                 Bytes(static_cast<double>(done)).c_str(), Bytes(static_cast<double>(total_)).c_str(),
                 Bytes(rate).c_str(), left);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::finish() {
    if (!drawn_) return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace orv::ctl
