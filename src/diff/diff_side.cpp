#include "diff/diff_side.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <string_view>
#include <tuple>

#include "check/check.h"
#include "import/smf_reader.h"
#include "midi/midi_song.h"
#include "output/text.h"
#include "playback/listener.h"
#include "song/codec.h"

namespace {

constexpr int kTicksPerWhole = 4 * kTicksPerQuarter;
constexpr int64_t kMinorKey = 1000;
constexpr int64_t kNumeratorStep = 1000;
constexpr int64_t kDefaultMicroseconds = 500000;  // 120 beats per minute, MIDI's default

bool IsMidiFile(std::span<const uint8_t> bytes) {
    constexpr std::array<uint8_t, 4> kMagic = {'M', 'T', 'h', 'd'};
    return bytes.size() >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), bytes.begin());
}

// Sorted by tick, the last of a kind at one tick kept, and no change that
// restates what is in effect (the tempo starting at MIDI's default).
std::vector<DiffControl> Normalized(std::vector<DiffControl> controls) {
    std::stable_sort(controls.begin(), controls.end(),
                     [](const DiffControl& a, const DiffControl& b) { return a.tick < b.tick; });
    std::vector<DiffControl> kept;
    std::array<std::optional<int64_t>, 3> inEffect = {kDefaultMicroseconds, std::nullopt, std::nullopt};
    for (size_t i = 0; i < controls.size(); ++i) {
        const DiffControl& control = controls[i];
        bool laterAtTick = false;
        for (size_t j = i + 1; j < controls.size() && controls[j].tick == control.tick; ++j)
            laterAtTick = laterAtTick || controls[j].kind == control.kind;
        if (laterAtTick) continue;
        std::optional<int64_t>& current = inEffect[static_cast<size_t>(control.kind)];
        if (current == control.value) continue;
        current = control.value;
        kept.push_back(control);
    }
    return kept;
}

// In onset order; a song's and a MIDI file's notes come so already.
void SortNotes(std::vector<DiffNote>& notes) {
    const auto earlier = [](const DiffNote& a, const DiffNote& b) { return a.on < b.on; };
    if (!std::is_sorted(notes.begin(), notes.end(), earlier)) std::stable_sort(notes.begin(), notes.end(), earlier);
}

std::optional<DiffControl> ControlOf(const ConductorEvent& event) {
    if (const auto* tempo = std::get_if<TempoChange>(&event.what))
        return DiffControl{event.tick, ConductorKind::Tempo, tempo->microsecondsPerQuarter};
    if (const auto* key = std::get_if<KeyChange>(&event.what))
        return DiffControl{event.tick, ConductorKind::Key, key->sharps};
    if (const auto* meter = std::get_if<MeterChange>(&event.what))
        return DiffControl{event.tick, ConductorKind::Time, meter->numerator * kNumeratorStep + meter->denominator};
    return std::nullopt;  // markers say nothing the notes do not
}

std::string HowItPlayed(const SongCheck& check) {
    const Timeline& t = check.timeline;
    std::string text(VerdictKey(check.verdict == Verdict::Damaged ? Verdict::Clean : check.verdict));
    if (check.verdict == Verdict::Stopped) {
        text = Printed("stopped at tick %" PRId64 ", measure %d: %s", t.lastTick, t.stopMeasure,
                      std::string(StopMeaning(t.stopReason)).c_str());
    } else if (!t.errors.empty()) {
        text = Printed("%zu playback error%s", t.errors.size(), t.errors.size() == 1 ? "" : "s");
    }
    if (check.damage) text += "; damaged: " + check.damage->message;
    if (check.verdict == Verdict::Stopped || check.damage) text += "; compared up to where it plays";
    return text;
}

std::optional<DiffSide> SongSide(std::span<const uint8_t> bytes, const std::string& name, DiffTimeline timeline,
                                 SideError& error) {
    DiffSide side;
    side.file = name;
    const bool asWritten = timeline == DiffTimeline::AsWritten;
    // Notes and rests take at least 3 bytes each: room for them all up front.
    const RecorderOptions recording{.keepNotes = true, .expectedNotes = std::min(bytes.size() / 3, size_t{1} << 22)};
    const auto hear = [&](const SSONG& song, const SongCheck& check) {
        MidiPerformance performance(song, check.timeline, ExportOptions{.asWritten = asWritten});
        const MidiSong& midi = performance.Song();
        for (const STRACK& track : song.tracks) side.trackNames.push_back(CleanText(track.name));
        side.notes.reserve(static_cast<size_t>(std::max(check.timeline.notesOn, 0)));
        // A MIDI performance sounds one note a channel and pitch at a time.
        std::array<size_t, kMidiChannels * kMidiPitches> sounding;
        sounding.fill(SIZE_MAX);
        performance.PlayNotes([&](const NoteMessage& message) {
            size_t& open = sounding[size_t{message.channel} * kMidiPitches + message.pitch];
            if (message.on) {
                open = side.notes.size();
                side.notes.push_back({.on = message.tick,
                                      .off = message.tick,
                                      .track = midi.tracks[message.track].songTrack,
                                      .channel = message.channel,
                                      .pitch = message.pitch,
                                      .velocity = message.velocity});
            } else if (open != SIZE_MAX) {
                side.notes[open].off = message.tick;
                open = SIZE_MAX;
            }
        });
        for (const ConductorEvent& event : midi.conductor)
            if (std::optional<DiffControl> control = ControlOf(event)) side.controls.push_back(*control);
    };
    SongCheck check = CheckSongImage(bytes, name, recording, hear);
    if (check.verdict == Verdict::Unreadable) {
        error.message = EscapeText(name) + ": unreadable: " + check.whyUnreadable;
        return std::nullopt;
    }
    side.title = check.title;
    side.played = HowItPlayed(check);
    side.complete = check.timeline.ended;
    std::vector<int64_t> bars;
    for (const TimedControl& control : check.timeline.controls)
        if (control.code == kCodeMeasureBar) bars.push_back(asWritten ? control.written : control.tick);
    side.measures = MeasureMap::FromBars(std::move(bars));
    SortNotes(side.notes);
    side.controls = Normalized(std::move(side.controls));
    return side;
}

std::optional<DiffSide> MidiSide(std::span<const uint8_t> bytes, const std::string& name, SideError& error) {
    MidiReadError readError;
    const std::optional<MidiFileData> midi = ReadStandardMidiFile(bytes, readError);
    if (!midi) {
        error.message = EscapeText(name) + ": " + DescribeMidiError(readError);
        return std::nullopt;
    }
    DiffSide side;
    side.file = name;
    side.midiFile = true;
    side.played = "MIDI file";
    for (const std::string& trackName : midi->trackNames) side.trackNames.push_back(CleanText(trackName));
    const auto tick = [&](int64_t fileTick) { return RescaleTick(fileTick, midi->division, kTicksPerQuarter); };
    side.notes.reserve(midi->notes.size());
    for (const MidiNoteEvent& note : midi->notes) {
        side.notes.push_back({.on = tick(note.on),
                              .off = tick(note.off),
                              .track = note.track,
                              .channel = note.channel,
                              .pitch = note.pitch,
                              .velocity = note.velocity});
    }
    for (const MidiMetaEvent& meta : midi->metas) {
        switch (meta.kind) {
            case MidiMetaKind::Tempo: side.controls.push_back({tick(meta.tick), ConductorKind::Tempo, meta.tempo}); break;
            case MidiMetaKind::Key:
                side.controls.push_back({tick(meta.tick), ConductorKind::Key, meta.sharps + (meta.minor ? kMinorKey : 0)});
                break;
            case MidiMetaKind::Time:
                side.controls.push_back(
                    {tick(meta.tick), ConductorKind::Time, meta.numerator * kNumeratorStep + meta.denominator});
                break;
        }
    }
    SortNotes(side.notes);
    side.controls = Normalized(std::move(side.controls));
    side.measures = MeasureMap::FromTimeSignatures(side.controls);
    side.title = side.trackNames.empty() ? "" : side.trackNames.front();
    return side;
}

}  // namespace

std::string ControlValueText(const DiffControl& control) {
    switch (control.kind) {
        case ConductorKind::Tempo:
            return Printed("%.2f bpm", control.value > 0 ? 60e6 / static_cast<double>(control.value) : 0.0);
        case ConductorKind::Key: {
            const bool minor = control.value >= kMinorKey / 2;
            const int64_t sharps = minor ? control.value - kMinorKey : control.value;
            const int64_t count = sharps < 0 ? -sharps : sharps;
            const char* noun = sharps < 0 ? "flat" : "sharp";
            return Printed("%" PRId64 " %s%s%s", count, noun, count == 1 ? "" : "s", minor ? " minor" : " major");
        }
        case ConductorKind::Time:
            return Printed("%" PRId64 "/%" PRId64, control.value / kNumeratorStep, control.value % kNumeratorStep);
    }
    return {};
}

MeasureMap MeasureMap::FromBars(std::vector<int64_t> barTicks) {
    MeasureMap map;
    map.stretches_.push_back({.from = INT64_MIN, .measure = 0, .length = 0});
    int32_t measure = 0;
    for (const int64_t tick : barTicks) map.stretches_.push_back({.from = tick, .measure = ++measure, .length = 0});
    return map;
}

MeasureMap MeasureMap::FromTimeSignatures(const std::vector<DiffControl>& controls) {
    MeasureMap map;
    map.stretches_.push_back({.from = INT64_MIN, .measure = 1, .length = 0});
    map.stretches_.push_back({.from = 0, .measure = 1, .length = kTicksPerWhole});
    for (const DiffControl& control : controls) {
        if (control.kind != ConductorKind::Time) continue;
        const int64_t numerator = control.value / kNumeratorStep;
        const int64_t denominator = control.value % kNumeratorStep;
        const int64_t length = numerator > 0 && denominator > 0 ? std::max<int64_t>(1, numerator * kTicksPerWhole / denominator) : 0;
        const Stretch& last = map.stretches_.back();
        int32_t measure = map.At(control.tick);
        if (last.length > 0 && (control.tick - last.from) % last.length != 0) ++measure;
        if (last.from == control.tick) map.stretches_.pop_back();
        map.stretches_.push_back({.from = control.tick, .measure = measure, .length = length});
    }
    return map;
}

namespace {

template <typename Stretch>
int32_t MeasureIn(const Stretch& stretch, int64_t tick) {
    if (stretch.length == 0) return stretch.measure;
    const int64_t measure = stretch.measure + (tick - stretch.from) / stretch.length;
    return static_cast<int32_t>(std::min<int64_t>(measure, INT32_MAX));
}

}  // namespace

int32_t MeasureMap::At(int64_t tick) const {
    const auto after = std::upper_bound(stretches_.begin(), stretches_.end(), tick,
                                        [](int64_t t, const Stretch& stretch) { return t < stretch.from; });
    if (after == stretches_.begin()) return 0;
    return MeasureIn(*(after - 1), tick);
}

int32_t MeasureMap::Walk::At(int64_t tick) {
    const std::vector<Stretch>& stretches = map_.stretches_;
    if (stretches.empty() || tick < stretches[stretch_].from) return map_.At(tick);  // not rising: look it up
    while (stretch_ + 1 < stretches.size() && stretches[stretch_ + 1].from <= tick) ++stretch_;
    return MeasureIn(stretches[stretch_], tick);
}

std::vector<std::pair<int64_t, int32_t>> MeasureMap::Starts(int64_t end, size_t most) const {
    std::vector<std::pair<int64_t, int32_t>> starts;
    // A measure a signature of no length left open goes on under the next
    // signature: it started once.
    const auto add = [&starts](int64_t tick, int32_t measure) {
        if (starts.empty() || starts.back().second != measure) starts.emplace_back(tick, measure);
    };
    for (size_t i = 0; i < stretches_.size() && starts.size() < most; ++i) {
        const Stretch& stretch = stretches_[i];
        const int64_t until = i + 1 < stretches_.size() ? std::min(end, stretches_[i + 1].from) : end;
        if (stretch.from == INT64_MIN) continue;
        if (stretch.length == 0) {
            if (stretch.from < end) add(stretch.from, stretch.measure);
            continue;
        }
        int32_t measure = stretch.measure;
        for (int64_t tick = stretch.from; tick < until && starts.size() < most; tick += stretch.length)
            add(tick, measure++);
    }
    return starts;
}

const std::string& DiffSide::TrackName(int32_t track) const {
    static const std::string kNone;
    return track >= 0 && static_cast<size_t>(track) < trackNames.size() ? trackNames[static_cast<size_t>(track)] : kNone;
}

std::optional<DiffSide> ReadDiffSide(std::span<const uint8_t> bytes, const std::string& name, DiffTimeline timeline,
                                     SideError& error) {
    if (IsMidiFile(bytes)) return MidiSide(bytes, name, error);
    return SongSide(bytes, name, timeline, error);
}
