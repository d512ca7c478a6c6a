#include "timeline/timeline.h"

#include <algorithm>
#include <iterator>

#include "song/parser.h"
#include "song/tables.h"

namespace {

double TicksToSeconds(int64_t ticks, int32_t bpm) {
    return static_cast<double>(ticks) * 60.0 / (static_cast<double>(bpm) * kTicksPerQuarter);
}

}  // namespace

double Timeline::SecondsAt(int64_t tick) const {
    // The last change at or before `tick`: each tempo holds to the next one.
    const auto after = std::upper_bound(tempos.begin(), tempos.end(), tick,
                                        [](int64_t at, const TempoPoint& change) { return at < change.tick; });
    const TempoPoint& tempo = after == tempos.begin() ? tempos.front() : *std::prev(after);
    return tempo.seconds + TicksToSeconds(tick - tempo.tick, tempo.bpm);
}

void Recorder::TempoPointd(int64_t tick, int32_t bpm) {
    std::vector<TempoPoint>& tempos = timeline_.tempos;
    if (tempos.back().tick == tick) {
        tempos.back().bpm = bpm;  // a later tempo of the same tick wins
        return;
    }
    const TempoPoint& last = tempos.back();
    tempos.push_back({.tick = tick, .bpm = bpm, .seconds = last.seconds + TicksToSeconds(tick - last.tick, last.bpm)});
}

void Recorder::GroupApplying(const SSONG& /*song*/, int32_t /*banner*/) {
    ++timeline_.groups;
    // The group after one that took a slot starts a batch.
    if (batchTookSlot_) {
        ++timeline_.batches;
        batchTookSlot_ = false;
    }
}

void Recorder::ControlApplied(const SSONG& song, const SEVENT& event) {
    int32_t value = event.value;
    if (event.code == kCodeTempo) {
        value = BeatsPerMinute(TempoByte(&song, &event));
    }
    const TimedControl control{.tick = song.clock, .measure = song.barsPlayed, .code = event.code, .value = value,
                               .written = Written(song)};
    if (options_.sink) options_.sink->ControlRecorded(control);
    if (options_.keepControls && !options_.sink) timeline_.controls.push_back(control);
    if (event.code == kCodeTempo && options_.keepControls) TempoPointd(song.clock, value);
    timeline_.measures = song.barsPlayed;
}

void Recorder::SlotTaken(const SSONG& song, int slot, const SEVENT& event) {
    const SNOTE& taken = song.notes[slot];
    batchTookSlot_ = true;
    if (taken.rest) ++timeline_.rests;
    if (song.activeCount > timeline_.peakSlots) {
        timeline_.peakSlots = song.activeCount;
        timeline_.peakTick = song.clock;
        timeline_.peakMeasure = song.barsPlayed;
    }
    LevelChanged(song);
    if (!options_.keepNotes || song.barsPlayed > options_.keepUntilMeasure) return;
    if (open_.size() <= static_cast<size_t>(slot)) open_.resize(static_cast<size_t>(slot) + 1, kNone);
    if (open_[static_cast<size_t>(slot)] == kNone) ++openCount_;
    open_[static_cast<size_t>(slot)] = static_cast<int32_t>(timeline_.notes.size()) + handedOn_;
    timeline_.notes.push_back({.on = song.clock,
                               .measure = song.barsPlayed,
                               .batchesBefore = static_cast<int32_t>(timeline_.batches),
                               .writtenLength = DurationTicks(event.value),
                               .track = taken.track,
                               .channel = taken.channel,
                               .note = taken.note,
                               .velocity = taken.velocity,
                               .rest = taken.rest != 0,
                               .accent = (event.flags & kFlagAccent) != 0});
}

void Recorder::NoteOn(const SSONG& song, int slot) {
    ++timeline_.notesOn;
    const int16_t track = song.notes[slot].track;
    if (IsTrackNumber(track)) ++timeline_.trackNotes[static_cast<size_t>(track)];
}

void Recorder::TieContinued(const SSONG& /*song*/, int slot, const SEVENT& event) {
    ++timeline_.ties;
    if (static_cast<size_t>(slot) < open_.size() && open_[static_cast<size_t>(slot)] != kNone) {
        TimedNote& note = NoteAt(open_[static_cast<size_t>(slot)]);
        note.tied = true;
        note.writtenLength += DurationTicks(event.value);
    }
}

void Recorder::Close(int slot, int64_t tick, bool restsToo) {
    if (openCount_ == 0 || static_cast<size_t>(slot) >= open_.size()) return;
    int32_t& open = open_[static_cast<size_t>(slot)];
    if (open == kNone) return;
    TimedNote& note = NoteAt(open);
    if (note.rest && !restsToo) return;
    note.off = tick;
    open = kNone;
    --openCount_;
    if (options_.sink) HandOnEnded();
}

// The notes at the front that have ended go to the sink. A note ended
// behind one still sounding waits for it, so the sink gets them in the
// order they started; they are few, since at most 16 sound at once.
void Recorder::HandOnEnded() {
    std::vector<TimedNote>& notes = timeline_.notes;
    size_t ended = 0;
    while (ended < notes.size() && notes[ended].off >= 0) options_.sink->NoteRecorded(notes[ended++]);
    if (ended == 0) return;
    // Moving the waiting ones down costs what is waiting, not what went before.
    notes.erase(notes.begin(), notes.begin() + static_cast<std::ptrdiff_t>(ended));
    handedOn_ += static_cast<int32_t>(ended);
}

void Recorder::Flush() {
    if (!options_.sink) return;
    for (const TimedNote& note : timeline_.notes) options_.sink->NoteRecorded(note);
    handedOn_ += static_cast<int32_t>(timeline_.notes.size());
    timeline_.notes.clear();
}

void Recorder::CloseAll(int64_t tick) {
    for (size_t slot = 0; slot < open_.size(); ++slot) Close(static_cast<int>(slot), tick, true);
}

// A rest ends when its slot is given back; a note at its NOTE OFF (a second
// NOTE OFF of a note that was reloaded by a tie finds nothing to end).
void Recorder::NoteOff(const SSONG& song, int slot) { Close(slot, song.clock, false); }

void Recorder::SlotFreed(const SSONG& song, int slot) {
    Close(slot, song.clock, true);
    LevelChanged(song);
}

void Recorder::ErrorRaised(const SSONG& song, const PlaybackError& error) {
    const TimedError recorded{.tick = song.clock, .written = Written(song), .measure = song.barsPlayed, .error = error};
    if (options_.sink) options_.sink->ErrorRecorded(recorded);
    if (options_.keepErrors && !options_.sink) timeline_.errors.push_back(recorded);
}

void Recorder::SongOver(const SSONG& song) {
    timeline_.ended = true;
    timeline_.lastTick = song.clock;
}

void Recorder::TickEnded(const SSONG& song) { timeline_.lastTick = song.clock; }

void Recorder::QuietTicks(const SSONG& song, int32_t /*count*/) { timeline_.lastTick = song.clock; }

void Recorder::Stopped(const SSONG& song) {
    timeline_.stopReason = song.stopReason;
    timeline_.stopMeasure = song.barsPlayed;
    timeline_.lastTick = song.clock;
    CloseAll(song.clock);
}

void Recorder::LevelChanged(const SSONG& song) {
    if (!options_.keepSlotLevels || song.barsPlayed > options_.keepUntilMeasure) return;
    std::vector<SlotLevel>& levels = timeline_.slotLevels;
    if (!levels.empty() && levels.back().tick == song.clock)
        levels.back().inUse = song.activeCount;
    else
        levels.push_back({.tick = song.clock, .inUse = song.activeCount});
}
