// The measures of a side, against a count made tick by tick: a song's from
// its bars, a MIDI file's from its time signatures (measure 1 at tick 0 in
// 4/4, a new measure at each signature that does not fall on a measure's
// start; one that names no length holds its measure until the next, which
// goes on counting from it). The measure of every tick, and where measures
// start.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "check/check.h"
#include "diff/diff_side.h"
#include "output/output.h"

namespace {

using Starts = std::vector<std::pair<int64_t, int32_t>>;

constexpr int64_t kEnd = 1800;
constexpr int64_t kWhole = 192;  // ticks of a whole note, 48 a quarter

struct Counted {
    std::vector<int32_t> measureAt;  // by tick, 0 to kEnd - 1
    Starts starts;
};

void ExpectMeasures(const MeasureMap& map, const Counted& counted, const std::string& what) {
    MeasureMap::Walk walk(map);
    for (int64_t tick = 0; tick < kEnd; ++tick) {
        ASSERT_EQ(map.At(tick), counted.measureAt[static_cast<size_t>(tick)]) << what << ", tick " << tick;
        ASSERT_EQ(walk.At(tick), counted.measureAt[static_cast<size_t>(tick)]) << what << ", walked to " << tick;
    }
    EXPECT_EQ(map.Starts(kEnd, SIZE_MAX), counted.starts) << what;
    const Starts first(counted.starts.begin(), counted.starts.begin() + std::min<ptrdiff_t>(3, std::ssize(counted.starts)));
    EXPECT_EQ(map.Starts(kEnd, 3), first) << what;
    const int64_t cut = kEnd / 2;
    Starts before;
    for (const auto& start : counted.starts)
        if (start.first < cut) before.push_back(start);
    EXPECT_EQ(map.Starts(cut, SIZE_MAX), before) << what;
}

TEST(MeasureMap, MidiMeasuresCountedFromTheTimeSignatures) {
    std::mt19937 random(17);
    for (int trial = 0; trial < 150; ++trial) {
        std::vector<DiffControl> controls;
        const int count = static_cast<int>(random() % 5);
        for (int i = 0; i < count; ++i) {
            const int64_t tick = trial % 3 == 0 ? static_cast<int64_t>(random() % 8) * 96 : random() % 1400;
            const int64_t numerator = random() % 10;  // 0: a signature that names no length
            const int64_t denominator = int64_t{1} << (random() % 5);
            controls.push_back({.tick = tick, .kind = ConductorKind::Time, .value = numerator * 1000 + denominator});
        }
        if (trial % 4 == 1) controls.insert(controls.begin(), {.tick = 96, .kind = ConductorKind::Tempo, .value = 1});
        std::stable_sort(controls.begin(), controls.end(), [](const auto& x, const auto& y) { return x.tick < y.tick; });

        Counted counted;
        int32_t measure = 1;
        int64_t into = 0;  // ticks into the measure
        int64_t length = kWhole;
        size_t next = 0;
        for (int64_t tick = 0; tick < kEnd; ++tick) {
            const int32_t was = measure;
            if (into == length) {
                ++measure;
                into = 0;
            }
            for (; next < controls.size() && controls[next].tick == tick; ++next) {
                if (controls[next].kind != ConductorKind::Time) continue;
                if (into != 0 && length > 0) ++measure;
                into = 0;
                const int64_t numerator = controls[next].value / 1000;
                length = numerator == 0 ? 0 : std::max<int64_t>(1, numerator * kWhole / (controls[next].value % 1000));
            }
            if (tick == 0 || measure != was) counted.starts.emplace_back(tick, measure);
            counted.measureAt.push_back(measure);
            ++into;
        }
        std::string what = "signatures";
        for (const DiffControl& c : controls)
            if (c.kind == ConductorKind::Time) what += " " + std::to_string(c.value) + "@" + std::to_string(c.tick);
        ExpectMeasures(MeasureMap::FromTimeSignatures(controls), counted, what);
    }
}

TEST(MeasureMap, SongMeasuresCountedFromTheBars) {
    std::mt19937 random(18);
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<int64_t> bars;
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) bars.push_back(random() % (kEnd + 200));
        std::sort(bars.begin(), bars.end());
        Counted counted;
        for (int64_t tick = 0; tick < kEnd; ++tick)
            counted.measureAt.push_back(static_cast<int32_t>(std::upper_bound(bars.begin(), bars.end(), tick) - bars.begin()));
        for (size_t i = 0; i < bars.size(); ++i)
            if (bars[i] < kEnd) counted.starts.emplace_back(bars[i], static_cast<int32_t>(i + 1));
        ExpectMeasures(MeasureMap::FromBars(bars), counted, "bars " + std::to_string(trial));
    }
}

// Over the corpus: a song side says how far it played as the check found
// it: where it stopped, its playback errors in words, or clean; and whether
// it played to its end.
TEST(DiffSide, SaysHowTheSongPlayed) {
    const DroppedDiagnostics quiet;
    const auto corpus = std::filesystem::path(__FILE__).parent_path().parent_path() / "corpus";
    int stopped = 0, oneError = 0, errors = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() != ".sng") continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        SideError error;
        const std::optional<DiffSide> side = ReadDiffSide(bytes, "song", DiffTimeline::AsPlayed, error);
        if (!side) continue;
        const SongCheck check = CheckSongImage(bytes, "song");
        const Timeline& t = check.timeline;
        const std::string& played = side->played;
        const std::string what = entry.path().filename().string() + ": " + played;
        if (t.stopReason != kStopNone) {
            EXPECT_TRUE(played.starts_with("stopped at tick " + std::to_string(t.lastTick) + ", measure " +
                                           std::to_string(t.stopMeasure) + ": ")) << what;
            ++stopped;
        } else if (!t.errors.empty()) {
            const size_t n = t.errors.size();
            EXPECT_TRUE(played.starts_with(n == 1 ? "1 playback error;" : std::to_string(n) + " playback errors") ||
                        played == "1 playback error") << what;
            ++(n == 1 ? oneError : errors);
        } else {
            EXPECT_TRUE(played.starts_with("clean")) << what;
        }
        EXPECT_EQ(played.find("; damaged: ") != std::string::npos, check.damage.has_value()) << what;
        EXPECT_EQ(side->complete, t.stopReason == kStopNone) << what;
    }
    EXPECT_GT(stopped, 0);
    EXPECT_GT(oneError, 0);
    EXPECT_GT(errors, 0);
}

}  // namespace
