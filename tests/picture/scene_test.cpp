#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <string_view>

#include "picture/scene.h"
#include "song/codec.h"
#include "song_generator.h"

namespace {

TEST(MeasureRange, ReadsARangeOneMeasureOrAllAndNothingElse) {
    const auto expectRange = [](std::string_view text, int32_t first, int32_t last) {
        const std::optional<MeasureRange> range = ParseMeasureRange(text);
        ASSERT_TRUE(range) << text;
        EXPECT_EQ(range->first, first) << text;
        EXPECT_EQ(range->last, last) << text;
    };
    expectRange("3-9", 3, 9);
    expectRange("7", 7, 7);
    expectRange("1-1", 1, 1);
    expectRange("all", 1, INT32_MAX);
    for (const std::string_view bad : {"", "0", "0-4", "5-4", "-3", "3-", "a-b", "3-9x", " 3-9", "+3", "1--2", "99999999999"})
        EXPECT_FALSE(ParseMeasureRange(bad)) << bad;
}


// The picture of a range begins with the tempo, key and time in effect
// there, as if set at its first tick, and holds every control drawn within
// it; no measure bar or repeat from before it.
TEST(Scene, ARangeStartsWithTheSettingsInEffectAndHoldsTheControlsWithin) {
    const auto drawn = [](int32_t code) {
        return code == kCodeMeasureBar || code == kCodeTempo || code == kCodeKeySignature ||
               code == kCodeTimeSignature || code == kCodeRepeatStart || code == kCodeRepeatEnd;
    };
    const auto setting = [](int32_t code) {
        return code == kCodeTempo || code == kCodeKeySignature || code == kCodeTimeSignature;
    };
    int tried = 0;
    for (uint64_t seed = 1; seed <= 12; ++seed) {
        const std::vector<uint8_t> bytes = GenerateSong({.events = 250, .seed = seed}).bytes;
        const Timeline whole = CheckSongImage(bytes, "song").timeline;
        for (const int32_t first : {2, 3, 6}) {
            const MeasureRange range{.first = first, .last = first + 1};
            if (first > SongMeasures(whole)) continue;
            SongCheck check = CheckSongImage(bytes, "song", RecordingFor(range), [](const SSONG&, const SongCheck&) {});
            const Scene scene = MakeScene(check, range);
            const std::string what = "seed " + std::to_string(seed) + ", measures from " + std::to_string(first);
            std::vector<std::pair<int32_t, int32_t>> expected;  // code, value
            std::vector<const TimedControl*> within;
            for (const TimedControl& control : whole.controls) {
                if (!drawn(control.code) || control.measure > range.last) continue;
                if (control.measure >= first) {
                    within.push_back(&control);
                } else if (setting(control.code)) {
                    std::erase_if(expected, [&](const auto& e) { return e.first == control.code; });
                    expected.emplace_back(control.code, control.value);
                }
            }
            ASSERT_EQ(scene.controls.size(), expected.size() + within.size()) << what;
            for (size_t i = 0; i < expected.size(); ++i) {
                EXPECT_EQ(scene.controls[i].code, expected[i].first) << what;
                EXPECT_EQ(scene.controls[i].value, expected[i].second) << what;
                EXPECT_EQ(scene.controls[i].tick, scene.from) << what;
            }
            for (size_t i = 0; i < within.size(); ++i) {
                const TimedControl& c = scene.controls[expected.size() + i];
                EXPECT_TRUE(c.code == within[i]->code && c.tick == within[i]->tick && c.value == within[i]->value) << what;
            }
            // The slot levels: the one in effect at the first tick, then each change once.
            ASSERT_FALSE(scene.levels.empty()) << what;
            EXPECT_EQ(scene.levels.front().tick, scene.from) << what;
            for (size_t i = 1; i < scene.levels.size(); ++i) EXPECT_LT(scene.levels[i - 1].tick, scene.levels[i].tick) << what;
            tried += !expected.empty();
        }
    }
    EXPECT_GE(tried, 20);
}

}  // namespace
