#include "output/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr auto kQuietTime = std::chrono::seconds(1);             // no bar before
constexpr auto kRedrawTime = std::chrono::milliseconds(100);     // nor more often
constexpr int kWidth = 40;

}  // namespace

ProgressBar::ProgressBar(std::string label)
    : label_(std::move(label)), terminal_(isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}

ProgressBar::~ProgressBar() {
    if (shown_) std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kWidth + 8, "");
}

void ProgressBar::Update(double fraction) {
    if (!terminal_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < kQuietTime || (shown_ && now - drawn_ < kRedrawTime)) return;
    const double done = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(done * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '-');
    std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(), static_cast<int>(done * 100));
    std::fflush(stderr);
    shown_ = true;
    drawn_ = now;
}
