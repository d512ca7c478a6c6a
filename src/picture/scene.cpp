#include "picture/scene.h"

#include <algorithm>
#include <charconv>
#include <iterator>

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
    return code == kCodeMeasureBar || code == kCodeTempo || code == kCodeKeySignature || code == kCodeTimeSignature ||
           code == kCodeRepeatStart || code == kCodeRepeatEnd;
}

// Marks where they are, not settings: none is in effect before the range.
bool IsMark(int32_t code) { return code == kCodeMeasureBar || code == kCodeRepeatStart || code == kCodeRepeatEnd; }

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
        } else if (!IsMark(control.code)) {
            std::erase_if(inEffect, [&](const TimedControl& earlier) { return earlier.code == control.code; });
            inEffect.push_back(control);
            inEffect.back().tick = from;
        }
    }
    inEffect.insert(inEffect.end(), within.begin(), within.end());
    return inEffect;
}

// Keeps the slot levels within the ticks drawn, from the one in effect at
// `from`, in place.
void KeepLevelsWithin(std::vector<SlotLevel>& levels, int64_t from, int64_t to) {
    std::erase_if(levels, [to](const SlotLevel& level) { return level.tick >= to; });
    SlotLevel first = {.tick = from, .inUse = 0};
    const auto after = std::ranges::find_if(levels, [from](const SlotLevel& level) { return level.tick > from; });
    if (after != levels.begin()) first.inUse = std::prev(after)->inUse;
    // Those before `from` give way to the first (ticks only grow).
    levels.erase(levels.begin(), after);
    levels.insert(levels.begin(), first);
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

Scene MakeScene(SongCheck& check, MeasureRange range) {
    Timeline& song = check.timeline;
    Scene scene;
    scene.title = check.title.empty() ? "Untitled song" : check.title;
    scene.songMeasures = SongMeasures(song);
    scene.measures = {.first = range.first, .last = std::min(range.last, scene.songMeasures)};
    scene.from = range.first == 1 ? 0 : BarTick(song, range.first).value_or(0);
    scene.to = BarTick(song, scene.measures.last + 1).value_or(song.lastTick);
    scene.notes = std::move(song.notes);
    std::erase_if(scene.notes, [&scene, range](const TimedNote& note) {
        const bool carriedIn = note.measure < range.first && note.off > scene.from;
        return !Holds(scene.measures, note.measure) && !carriedIn;
    });
    scene.controls = ControlsWithin(song, scene.measures, scene.from);
    for (size_t i = 0; i < song.errors.size(); ++i) {
        if (!Holds(scene.measures, song.errors[i].measure)) continue;
        scene.errors.push_back(song.errors[i]);
        scene.errorTrackNames.push_back(check.errorTrackNames[i]);
    }
    scene.levels = std::move(song.slotLevels);
    KeepLevelsWithin(scene.levels, scene.from, scene.to);
    for (const CheckedTrack& track : check.tracks) scene.tracks.at(static_cast<size_t>(track.track)) = track;
    if (scene.measures.last == scene.songMeasures && song.stopReason != kStopNone) {
        scene.stopReason = song.stopReason;
        scene.stopMeasure = song.stopMeasure;
    }
    return scene;
}
