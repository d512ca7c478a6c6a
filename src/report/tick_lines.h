// The tick lines of the trace, "******** Ticks = N ********", one a tick:
// most of a long song's output.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

class TickLines {
public:
    // Prints the lines of `count` ticks, the last of which left the group
    // timer at `timer` (the timer counts down by one a tick).
    void Print(int32_t timer, int32_t count);

private:
    static constexpr std::string_view kBefore = "******** Ticks = ";
    static constexpr std::string_view kAfter = " ********\n";
    static constexpr size_t kLongest = kBefore.size() + 11 + kAfter.size();  // 11: "-2147483648"

    void Make(int64_t value);  // the line of `value`, formatted
    bool StepDown();

    // The line of a value, made whole (with room to be copied out at a fixed
    // size, past its end: quicker than copying its length), and the last
    // digit of the value printed last, which is stepped alone.
    std::array<char, kLongest + 10> line_{};
    size_t size_ = 0;  // 0 before the first line
    size_t lastDigitAt_ = 0;
    char lastDigit_ = '0';
    int64_t value_ = 0;
};
