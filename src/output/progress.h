// A progress bar on standard error for work that takes a while. It shows
// only when standard error is a terminal and the work has run for a second,
// so quick runs and logs stay clean.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

class ProgressBar {
public:
    explicit ProgressBar(std::string label);
    // Clears the bar, if it was drawn.
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // `fraction` of the work is done (0..1); `counts`, when given, follows
    // the percentage ("12/25").
    void Update(double fraction, std::string_view counts = {});
    // Takes the bar off the line, for a message to be printed there; the
    // next Update draws it again.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;

    std::string label_;
    bool terminal_;
    Clock::time_point start_;
    Clock::time_point drawn_;  // when the bar was last drawn
    bool shown_ = false;
    int drawnWidth_ = 0;  // of the bar as last drawn
};
