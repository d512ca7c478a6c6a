#include "timeline/timeline.h"

#include "song/parser.h"

double Timeline::SecondsAt(int64_t tick) const {
    // Each tempo holds from its tick to the next one's.
    double seconds = 0;
    int64_t from = 0;
    int32_t bpm = kDefaultTempo;
    for (const TimedControl& control : controls) {
        if (control.code != kCodeTempo) continue;
        if (control.tick >= tick) break;
        seconds += static_cast<double>(control.tick - from) * 60.0 / (bpm * kTicksPerQuarter);
        from = control.tick;
        bpm = control.value;
    }
    return seconds + static_cast<double>(tick - from) * 60.0 / (bpm * kTicksPerQuarter);
}

void Recorder::GroupApplying(const SSONG& /*song*/, int32_t /*banner*/) { ++timeline_.groups; }

void Recorder::ControlApplied(const SSONG& song, const SEVENT& event) {
    int32_t value = event.value;
    if (event.code == kCodeTempo) {
        value = TempoByte(&song, &event);
        if (value == 0) value = kDefaultTempo;
    }
    timeline_.controls.push_back({.tick = song.tick, .measure = song.barsPlayed, .code = event.code, .value = value});
    timeline_.measures = song.barsPlayed;
}

void Recorder::SlotTaken(const SSONG& song, int slot, const SEVENT& event) {
    const SNOTE& taken = song.notes[slot];
    if (taken.rest) ++timeline_.rests;
    if (song.activeCount > timeline_.peakSlots) {
        timeline_.peakSlots = song.activeCount;
        timeline_.peakTick = song.tick;
        timeline_.peakMeasure = song.barsPlayed;
    }
    LevelChanged(song);
    if (!options_.keepNotes || song.barsPlayed > options_.keepUntilMeasure) return;
    if (open_.size() <= static_cast<size_t>(slot)) open_.resize(static_cast<size_t>(slot) + 1, kNone);
    if (open_[static_cast<size_t>(slot)] == kNone) ++openCount_;
    open_[static_cast<size_t>(slot)] = static_cast<int32_t>(timeline_.notes.size());
    timeline_.notes.push_back({.on = song.tick,
                               .measure = song.barsPlayed,
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
    if (track >= 0 && track < kTrackCount) ++timeline_.trackNotes[static_cast<size_t>(track)];
}

void Recorder::TieContinued(const SSONG& /*song*/, int slot, const SEVENT& /*event*/) {
    ++timeline_.ties;
    if (static_cast<size_t>(slot) < open_.size() && open_[static_cast<size_t>(slot)] != kNone)
        timeline_.notes[static_cast<size_t>(open_[static_cast<size_t>(slot)])].tied = true;
}

void Recorder::Close(int slot, int64_t tick, bool restsToo) {
    if (openCount_ == 0 || static_cast<size_t>(slot) >= open_.size()) return;
    int32_t& open = open_[static_cast<size_t>(slot)];
    if (open == kNone) return;
    TimedNote& note = timeline_.notes[static_cast<size_t>(open)];
    if (note.rest && !restsToo) return;
    note.off = tick;
    open = kNone;
    --openCount_;
}

void Recorder::CloseAll(int64_t tick) {
    for (size_t slot = 0; slot < open_.size(); ++slot) Close(static_cast<int>(slot), tick, true);
}

// A rest ends when its slot is given back; a note at its NOTE OFF (a second
// NOTE OFF of a note that was reloaded by a tie finds nothing to end).
void Recorder::NoteOff(const SSONG& song, int slot) { Close(slot, song.tick, false); }

void Recorder::SlotFreed(const SSONG& song, int slot) {
    Close(slot, song.tick, true);
    LevelChanged(song);
}

void Recorder::ErrorRaised(const SSONG& song, const PlaybackError& error) {
    timeline_.errors.push_back({.tick = song.tick, .measure = song.barsPlayed, .error = error});
}

void Recorder::SongOver(const SSONG& song) {
    timeline_.ended = true;
    timeline_.lastTick = song.tick;
}

void Recorder::TickEnded(const SSONG& song) { timeline_.lastTick = song.tick; }

void Recorder::QuietTicks(const SSONG& song, int32_t /*count*/) { timeline_.lastTick = song.tick; }

void Recorder::Stopped(const SSONG& song) {
    timeline_.stopReason = song.stopReason;
    timeline_.stopMeasure = song.barsPlayed;
    timeline_.lastTick = song.tick;
    CloseAll(song.tick);
}

void Recorder::LevelChanged(const SSONG& song) {
    if (!options_.keepSlotLevels || song.barsPlayed > options_.keepUntilMeasure) return;
    std::vector<SlotLevel>& levels = timeline_.slotLevels;
    if (!levels.empty() && levels.back().tick == song.tick)
        levels.back().inUse = song.activeCount;
    else
        levels.push_back({.tick = song.tick, .inUse = song.activeCount});
}
