#include "song_generator.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "song/tables.h"
#include "song_writer.h"

// How the songs are laid out so that they play cleanly:
//
// - All notes and rests of a group share one duration, so they run out in
//   the same tick, and the group timer (loaded with their `remaining`) runs
//   out with them. One group sounds at a time, and it lasts its duration
//   minus one tick: the next group is applied in the tick in which the
//   previous one's notes reach 0.
// - Every group after the first control events takes at least one new slot
//   (a new note or rest), so the tick engine applies exactly one note group
//   per due tick; groups of control events alone are applied together with
//   the note group that follows them.
// - A tie-begin note is continued by a tie-end note of the same note on the
//   same track in the very next group. The continuation is looked up by
//   note and channel from slot 0 upward, stale slots included; keeping the
//   notes of every group distinct by (note, channel) makes the first match
//   the held slot: every slot below it has held, since the held note took
//   its slot, only notes of groups in which the held note was sounding too.
// - A group holds at most 16 notes and rests, tie continuations included.
// - The last note group has no tie-begin note, and the last group holds only
//   the song end, which is applied in the tick in which the last notes are
//   given back, so no slot is in use when the song ends.

namespace {

constexpr int kSlots = 16;
constexpr int kMaxTracks = 15;

// SplitMix64: small, fast and the same sequence on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in 0..n-1 (n > 0).
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(((Next() >> 32) * n) >> 32); }
    int Between(int low, int high) { return low + static_cast<int>(Below(static_cast<uint32_t>(high - low + 1))); }
    // True with a chance of `percent` in 100.
    bool Percent(uint32_t percent) { return Below(100) < percent; }

private:
    uint64_t state_;
};

struct TrackPlan {
    int channel = 0;
    int low = 0;  // note range
    int high = 0;
};

// Duration codes with weights: short values most often, every code with a
// nonzero length now and then. Codes 0, 2 and 19 last 0 ticks and are never used.
struct WeightedDuration {
    int code;
    uint32_t weight;
};
constexpr std::array<WeightedDuration, 18> kDurations = {{
    {1, 2},  {3, 3},  {4, 3},  {5, 1},  {6, 8},   {7, 3},  {8, 2},  {9, 12}, {10, 3},
    {11, 4}, {12, 12}, {13, 2}, {14, 3}, {15, 5}, {16, 1}, {17, 1}, {18, 2}, {20, 1},
}};

constexpr std::array<std::string_view, kMaxTracks> kTrackNames = {
    "Piano", "Bass",  "Strings", "Lead",  "Pad",   "Guitar", "Organ", "Brass",
    "Flute", "Drums", "Choir",   "Harp",  "Bells", "Cello",  "Synth",
};

enum class Control { KeySignature, Tempo, MeasureBar, TimeSignature, Loudness, RepeatStart, RepeatEnd };

// One planned note or rest of a group.
struct PlannedNote {
    int track = 0;
    int note = 0;
    uint32_t flags = 0;
};

class Generator {
public:
    explicit Generator(const SongGenOptions& options)
        : random_(options.seed), seed_(options.seed), left_(std::max<uint64_t>(options.events, 2) - 1) {}

    GeneratedSong Run() {
        Header();
        // Opening control events, alone in their group: priming applies them
        // before the first note group.
        const uint64_t opening = std::min<uint64_t>(5, left_ - 1);
        if (opening > 0) {
            constexpr std::array kOpening = {Control::KeySignature, Control::Tempo, Control::TimeSignature,
                                             Control::Loudness, Control::RepeatStart};
            for (uint64_t i = 0; i < opening; ++i) WriteControl(kOpening[i]);
            writer_.EndGroup();
            ++stats_.groups;
        }
        bool first = true;
        while (left_ > 0) {
            if (!first && held_.empty() && left_ >= 3 && random_.Percent(3))
                ControlGroup();
            else
                NoteGroup(first);
            first = false;
        }
        writer_.EndSong();
        CountControl(kCodeSongEnd);
        ++stats_.groups;
        return {writer_.Bytes(), stats_};
    }

private:
    void Header() {
        writer_.Title("Generated song " + std::to_string(seed_));
        const int count = random_.Between(3, kMaxTracks);
        for (int t = 0; t < count; ++t) {
            TrackPlan plan;
            // Mostly a channel of its own; now and then one shared with an
            // earlier track, so notes of two tracks meet on one channel.
            plan.channel = (t > 0 && random_.Percent(25)) ? tracks_[random_.Below(static_cast<uint32_t>(t))].channel : t;
            const int center = random_.Between(36, 84);
            plan.low = center - 12;
            plan.high = center + 12;
            tracks_.push_back(plan);
            // Octave code, patch, and mostly enabled (playback plays disabled tracks too).
            const int octave = random_.Between(0, 5);
            const int patch = random_.Between(0, 127);
            writer_.Track(t, kTrackNames[static_cast<size_t>(t)], plan.channel, octave, patch,
                          t == 0 || random_.Percent(85));
        }
        stats_.tracks = count;
    }

    int PickDuration() {
        uint32_t total = 0;
        for (const auto& d : kDurations) total += d.weight;
        uint32_t pick = random_.Below(total);
        for (const auto& d : kDurations) {
            if (pick < d.weight) return d.code;
            pick -= d.weight;
        }
        return kDurations.back().code;
    }

    static int TicksOf(int code) { return DurationTicks(code); }

    int PickChordSize() {
        const uint32_t r = random_.Below(100);
        if (r < 45) return 1;
        if (r < 70) return 2;
        if (r < 85) return 3;
        if (r < 93) return 4;
        if (r < 98) return random_.Between(5, 8);
        return random_.Between(9, kSlots);
    }

    void CountControl(int code) {
        ++stats_.controls;
        ++stats_.events;
        ++stats_.controlCounts[code == kCodeSongEnd ? 7 : code - kCodeKeySignature];
    }

    void WriteControl(Control control) {
        switch (control) {
            case Control::KeySignature:
                writer_.KeySignature(static_cast<uint8_t>(random_.Between(1, 15)));
                CountControl(kCodeKeySignature);
                break;
            case Control::Tempo:
                writer_.Tempo(static_cast<uint8_t>(random_.Between(1, 255)));
                CountControl(kCodeTempo);
                break;
            case Control::MeasureBar:
                writer_.MeasureBar();
                CountControl(kCodeMeasureBar);
                break;
            case Control::TimeSignature:
                writer_.TimeSignature(static_cast<int8_t>(random_.Between(1, 7)));
                CountControl(kCodeTimeSignature);
                break;
            case Control::Loudness:
                writer_.Loudness(static_cast<int8_t>(random_.Between(30, 120)));
                CountControl(kCodeLoudness);
                break;
            case Control::RepeatStart:
                writer_.RepeatStart(static_cast<int8_t>(random_.Between(1, 8)));
                CountControl(kCodeRepeatStart);
                break;
            case Control::RepeatEnd:
                writer_.RepeatEnd();
                CountControl(kCodeRepeatEnd);
                break;
        }
        --left_;
    }

    Control PickOccasionalControl() {
        constexpr std::array kKinds = {Control::KeySignature, Control::Tempo, Control::TimeSignature,
                                       Control::Loudness, Control::RepeatStart, Control::MeasureBar};
        return kKinds[random_.Below(static_cast<uint32_t>(kKinds.size()))];
    }

    // A group of control events only; applied with the next note group.
    void ControlGroup() {
        const uint64_t room = left_ - 1;  // keep one event for a note group
        const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(random_.Between(1, 3)), room);
        for (uint64_t i = 0; i < count; ++i) WriteControl(PickOccasionalControl());
        if (left_ >= 2 && random_.Percent(30)) {
            WriteControl(Control::RepeatEnd);  // ends the group
        } else {
            writer_.EndGroup();
        }
        ++stats_.groups;
    }

    bool PairFree(const std::vector<std::pair<int, int>>& used, int note, int channel) const {
        return std::find(used.begin(), used.end(), std::make_pair(note, channel)) == used.end();
    }

    void NoteGroup(bool first) {
        const uint64_t held = held_.size();
        // The group before left room for its ties to be continued and a new note.
        if (left_ < held + 1) throw std::logic_error("songgen: no events left to continue the held ties");
        // Controls at the head of the group, and perhaps a repeat end as its
        // terminator; one event is kept for a new note.
        std::vector<Control> controls;
        bool repeatEnd = false;
        uint64_t room = left_ - held - 1;
        auto addControl = [&](bool wanted, Control control) {
            if (room == 0 || !wanted) return;
            if (control == Control::RepeatEnd)
                repeatEnd = true;
            else
                controls.push_back(control);
            --room;
        };
        // The first note group carries a measure bar and a repeat end, so
        // every control code appears in songs of a few events already.
        addControl(first || random_.Percent(35), Control::MeasureBar);
        if (!first && random_.Percent(8)) addControl(true, PickOccasionalControl());
        addControl(first || random_.Percent(4), Control::RepeatEnd);

        const int duration = PickDuration();
        std::vector<PlannedNote> notes;
        std::vector<std::pair<int, int>> used;  // (note, channel) of every note that is not a rest
        for (const PlannedNote& h : held_) {
            notes.push_back({h.track, h.note, SongWriter::kTieEnd});
            used.emplace_back(h.note, tracks_[static_cast<size_t>(h.track)].channel);
        }
        const uint64_t fresh =
            std::min<uint64_t>({static_cast<uint64_t>(PickChordSize()), static_cast<uint64_t>(kSlots) - held, room + 1});
        for (uint64_t i = 0; i < fresh; ++i) {
            const int track = static_cast<int>(random_.Below(static_cast<uint32_t>(tracks_.size())));
            const TrackPlan& plan = tracks_[static_cast<size_t>(track)];
            PlannedNote planned{track, 0, SongWriter::kRest};
            if (!random_.Percent(8)) {
                for (int attempt = 0; attempt < 16; ++attempt) {
                    const int note = random_.Between(plan.low, plan.high);
                    if (PairFree(used, note, plan.channel)) {
                        planned = {track, note, 0};
                        used.emplace_back(note, plan.channel);
                        break;
                    }
                }
            }
            if (!(planned.flags & SongWriter::kRest) && random_.Percent(20)) planned.flags |= SongWriter::kAccent;
            notes.push_back(planned);
        }

        // Events left after this group; the next group needs one tie-end per
        // tie-begin of this one, plus a new note.
        const uint64_t after = left_ - controls.size() - (repeatEnd ? 1 : 0) - notes.size();
        held_.clear();
        for (PlannedNote& planned : notes) {
            if (planned.flags & SongWriter::kRest) continue;
            if (held_.size() + 2 <= after && random_.Percent(12)) {
                planned.flags |= SongWriter::kTieBegin;
                held_.push_back({planned.track, planned.note, 0});
            }
        }

        // Tie continuations and new notes in any order: (note, channel) pairs
        // are distinct, so the order does not change which slot a
        // continuation finds.
        for (size_t i = notes.size(); i > 1; --i) std::swap(notes[i - 1], notes[random_.Below(static_cast<uint32_t>(i))]);

        for (Control control : controls) WriteControl(control);
        for (const PlannedNote& planned : notes) {
            if (planned.flags & SongWriter::kRest) {
                writer_.Rest(planned.track, duration, planned.flags & ~SongWriter::kRest);
                ++stats_.rests;
            } else {
                writer_.Note(planned.track, duration, planned.note, planned.flags);
                ++stats_.notes;
            }
            if (planned.flags & SongWriter::kTieBegin) ++stats_.tieBegins;
            if (planned.flags & SongWriter::kTieEnd) ++stats_.tieEnds;
            ++stats_.events;
            --left_;
        }
        if (repeatEnd)
            WriteControl(Control::RepeatEnd);
        else
            writer_.EndGroup();
        ++stats_.groups;
        stats_.maxSlots = std::max(stats_.maxSlots, static_cast<int>(notes.size()));
        stats_.playTicks += static_cast<uint64_t>(TicksOf(duration) - 1);
    }

    Random random_;
    uint64_t seed_;
    uint64_t left_;  // events still to write before the song end
    SongWriter writer_;
    SongGenStats stats_;
    std::vector<TrackPlan> tracks_;
    std::vector<PlannedNote> held_;  // tie-begin notes the next group continues
};

}  // namespace

GeneratedSong GenerateSong(const SongGenOptions& options) { return Generator(options).Run(); }
