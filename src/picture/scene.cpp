#include "picture/scene.h"

#include <algorithm>
#include <charconv>

namespace {

std::optional<int32_t> MeasureNumber(std::string_view text) {
    int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < 1) return std::nullopt;
    return value;
}

// What happens in a measure is drawn when the range holds the measure;
// measure 0, before the first bar, goes with measure 1.
bool Holds(MeasureRange range, int32_t measure) {
    return measure <= range.last && (measure >= range.first || range.first == 1);
}

// The tick in which measure bar `measure` was applied, if it was.
std::optional<int64_t> BarTick(const Timeline& song, int32_t measure) {
    for (const TimedControl& control : song.controls)
        if (control.code == kCodeMeasureBar && control.measure == measure) return control.tick;
    return std::nullopt;
}

// The controls a picture writes: the rest change nothing it shows.
bool IsDrawn(int32_t code) {
    return code == kCodeMeasureBar || code == kCodeTempo || code == kCodeKeySignature || code == kCodeTimeSignature;
}

// The drawn controls within the range, after the tempo, key and time in
// effect when it starts (as if set at `from`).
std::vector<TimedControl> ControlsWithin(const Timeline& song, MeasureRange range, int64_t from) {
    std::vector<TimedControl> within;
    std::vector<TimedControl> inEffect;
    for (const TimedControl& control : song.controls) {
        if (control.measure > range.last) break;
        if (!IsDrawn(control.code)) continue;
        if (Holds(range, control.measure)) {
            within.push_back(control);
        } else if (control.code != kCodeMeasureBar) {
            std::erase_if(inEffect, [&](const TimedControl& earlier) { return earlier.code == control.code; });
            inEffect.push_back(control);
            inEffect.back().tick = from;
        }
    }
    inEffect.insert(inEffect.end(), within.begin(), within.end());
    return inEffect;
}

// The slot levels within the ticks drawn, from the one in effect at `from`.
std::vector<SlotLevel> LevelsWithin(const std::vector<SlotLevel>& levels, int64_t from, int64_t to) {
    std::vector<SlotLevel> within = {{.tick = from, .inUse = 0}};
    for (const SlotLevel& level : levels) {
        if (level.tick >= to) break;
        if (level.tick <= from)
            within.front().inUse = level.inUse;
        else
            within.push_back(level);
    }
    return within;
}

}  // namespace

std::optional<MeasureRange> ParseMeasureRange(std::string_view text) {
    if (text == "all") return kAllMeasures;
    const size_t dash = text.find('-');
    const std::optional<int32_t> first = MeasureNumber(text.substr(0, dash));
    const std::optional<int32_t> last = dash == std::string_view::npos ? first : MeasureNumber(text.substr(dash + 1));
    if (!first || !last || *first > *last) return std::nullopt;
    return MeasureRange{.first = *first, .last = *last};
}

RecorderOptions RecordingFor(MeasureRange range) {
    return {.keepNotes = true, .keepSlotLevels = true, .keepUntilMeasure = range.last};
}

int32_t SongMeasures(const Timeline& song) { return std::max(song.measures, 1); }

Scene MakeScene(const SongCheck& check, MeasureRange range) {
    const Timeline& song = check.timeline;
    Scene scene;
    scene.title = check.title.empty() ? "Untitled song" : check.title;
    scene.songMeasures = SongMeasures(song);
    scene.measures = {.first = range.first, .last = std::min(range.last, scene.songMeasures)};
    scene.from = range.first == 1 ? 0 : BarTick(song, range.first).value_or(0);
    scene.to = BarTick(song, scene.measures.last + 1).value_or(song.lastTick);
    for (const TimedNote& note : song.notes) {
        const bool carriedIn = note.measure < range.first && note.off > scene.from;
        if (Holds(scene.measures, note.measure) || carriedIn) scene.notes.push_back(note);
    }
    scene.controls = ControlsWithin(song, scene.measures, scene.from);
    for (size_t i = 0; i < song.errors.size(); ++i) {
        if (!Holds(scene.measures, song.errors[i].measure)) continue;
        scene.errors.push_back(song.errors[i]);
        scene.errorTrackNames.push_back(check.errorTrackNames[i]);
    }
    scene.levels = LevelsWithin(song.slotLevels, scene.from, scene.to);
    for (const CheckedTrack& track : check.tracks) scene.tracks.at(static_cast<size_t>(track.track)) = track;
    if (scene.measures.last == scene.songMeasures && song.stopReason != kStopNone) {
        scene.stopReason = song.stopReason;
        scene.stopMeasure = song.stopMeasure;
    }
    return scene;
}
