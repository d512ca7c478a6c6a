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

ProgressBar::~ProgressBar() { Clear(); }

void ProgressBar::Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%*s\r", drawnWidth_, "");
    std::fflush(stderr);
    shown_ = false;
}

void ProgressBar::Update(double fraction, std::string_view counts) {
    if (!terminal_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < kQuietTime || (shown_ && now - drawn_ < kRedrawTime)) return;
    const double done = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(done * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '-');
    const int width = std::fprintf(stderr, "\r%s [%s] %3d%%%s%.*s", label_.c_str(), bar.c_str(),
                                   static_cast<int>(done * 100), counts.empty() ? "" : " ",
                                   static_cast<int>(counts.size()), counts.data());
    drawnWidth_ = std::max(drawnWidth_, width - 1);
    std::fflush(stderr);
    shown_ = true;
    drawn_ = now;
}
