// The tick lines are made by stepping digits in place; they must print what
// formatting each line does, for every timer value a run reaches and every
// way a run is split into calls.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "report/tick_lines.h"
#include "support/capture.h"

namespace {

std::string Plain(int64_t timer) {
    char line[64];
    std::snprintf(line, sizeof line, "******** Ticks = %lld ********\n", static_cast<long long>(timer));
    return line;
}

// The lines of `count` ticks ending with the timer at `timer`, formatted one by one.
std::string PlainRun(int32_t timer, int32_t count) {
    std::string lines;
    for (int64_t value = int64_t{timer} + count - 1; value >= timer; --value) lines += Plain(value);
    return lines;
}

using TickRun = std::pair<int32_t, int32_t>;  // the timer after the run, the ticks in it

// Prints the runs with one TickLines, as one playback does, and formats them.
void ExpectSameBytes(const std::vector<TickRun>& runs) {
    std::string expected;
    for (const auto& [timer, count] : runs) expected += PlainRun(timer, count);
    const std::string printed = CaptureOutput([&] {
        TickLines lines;
        for (const auto& [timer, count] : runs) lines.Print(timer, count);
    });
    ASSERT_EQ(printed.size(), expected.size());
    EXPECT_TRUE(printed == expected);
}

// From the highest timer a group loads and more down to the stop below
// -1000, every digit-count boundary on the way (99/100, 0/-1, -9/-10, ...).
constexpr int32_t kTop = 3000;
constexpr int32_t kBottom = -1001;

TEST(TickLines, EveryValueInOneRunAndTickByTick) {
    ExpectSameBytes({{kBottom, kTop - kBottom + 1}});
    std::vector<TickRun> ticks;
    for (int32_t timer = kTop; timer >= kBottom; --timer) ticks.push_back({timer, 1});
    ExpectSameBytes(ticks);
}

TEST(TickLines, RunsOfEveryLengthSplitAnywhere) {
    for (int32_t length = 2; length <= 64; ++length) {
        SCOPED_TRACE(length);
        std::vector<TickRun> runs;
        for (int32_t top = 1100; top - length + 1 >= kBottom; top -= length) runs.push_back({top - length + 1, length});
        ExpectSameBytes(runs);
    }
}

// The timer is loaded anew when groups are applied: a run may start at any
// value, above or below the last line's, or just one below it.
TEST(TickLines, RunsAfterAnyJump) {
    std::mt19937 random(19);
    std::uniform_int_distribution<int32_t> value(kBottom, kTop);
    std::uniform_int_distribution<int32_t> length(1, 30);
    std::vector<TickRun> runs;
    for (int i = 0; i < 5000; ++i) {
        const int32_t count = length(random);
        const int32_t timer = std::max(value(random), kBottom + count);
        runs.push_back({timer - count + 1, count});
    }
    for (const int32_t boundary : {10, 100, 1000, 0, -9, -99, -999, -1000}) {
        runs.push_back({boundary, 1});      // then one below it, a call of its own
        runs.push_back({boundary - 1, 1});
        runs.push_back({boundary - 1, 3});  // and again from above it
    }
    runs.push_back({INT32_MAX - 2, 3});
    runs.push_back({INT32_MIN, 1});
    runs.push_back({INT32_MIN, 2});
    ExpectSameBytes(runs);
}

}  // namespace
