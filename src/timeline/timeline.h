// What one playback did, in engine ticks: the facts the check reports, the
// notes the MIDI file and the audio hold, and what the picture draws. A
// Recorder is the playback listener that collects them.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <vector>

#include "playback/listener.h"
#include "song/codec.h"
#include "song/song.h"

inline constexpr int kTicksPerQuarter = 48;

// A note or a rest, from the tick it started to the tick it ended: for a
// note, the ticks of its NOTE ON and NOTE OFF traces (a tied note is one
// note across its ties); for a rest, the ticks its slot was taken and given
// back. A note still sounding when playback stopped ends at the stop.
struct TimedNote {
    int64_t on = 0;
    int64_t off = -1;      // -1 while it sounds
    int32_t measure = 0;   // measure bars applied when it started
    // As written: batches applied before its own (so that it starts at tick
    // `on + batchesBefore` of the notation), and its notated length, the
    // table lengths of its tie chain added up.
    int32_t batchesBefore = 0;
    int32_t writtenLength = 0;
    int16_t track = 0;
    int16_t channel = 0;
    int16_t note = 0;
    int16_t velocity = 0;
    bool rest = false;
    bool accent = false;
    bool tied = false;     // continued by at least one tie
};

// A control event as it took effect.
struct TimedControl {
    int64_t tick = 0;
    int32_t measure = 0;   // measure bars applied, this one included for a bar
    int32_t code = 0;      // kCode...
    int32_t value = 0;     // the event's value; for a tempo, beats per minute (0 read as 120)
    int64_t written = 0;   // the tick of the notation: its batch's start
};

struct TimedError {
    int64_t tick = 0;
    int64_t written = 0;  // the tick of the notation
    int32_t measure = 0;
    PlaybackError error{};
};

// The number of slots in use from `tick` on, until the next level.
struct SlotLevel {
    int64_t tick = 0;
    int32_t inUse = 0;
};

// A tempo from `tick` on, and the seconds from the start to that tick.
struct TempoPoint {
    int64_t tick = 0;
    int32_t bpm = kDefaultTempo;
    double seconds = 0;
};

struct Timeline {
    std::vector<TimedNote> notes;  // notes and rests in the order they started (if kept)
    std::vector<TimedControl> controls;
    std::vector<TimedError> errors;
    std::vector<SlotLevel> slotLevels;  // (if kept)

    int64_t lastTick = 0;     // the last tick played
    int32_t measures = 0;     // measure bars applied
    int32_t groups = 0;       // groups applied
    // Batches of groups applied: a batch ends with the group that takes a
    // slot, and plays one tick short of the duration that governs it, so the
    // notation is ahead of the engine by one tick a batch.
    int64_t batches = 0;
    int32_t notesOn = 0;      // NOTE ON traces
    int32_t rests = 0;
    int32_t ties = 0;         // tie continuations that found their note
    std::array<int32_t, kTrackCount> trackNotes{};  // NOTE ON traces by track
    int32_t peakSlots = 0;
    int64_t peakTick = 0;     // where the peak was first reached
    int32_t peakMeasure = 0;
    int32_t stopReason = kStopNone;
    int32_t stopMeasure = 0;  // the stop's tick is lastTick
    bool ended = false;       // the song ended cleanly

    // The tempo map: the tempo at tick 0 first, then each change, one per
    // tick (the last tempo event of a tick counts).
    std::vector<TempoPoint> tempos = {TempoPoint{}};

    // Seconds from the start to `tick`, at the song's tempos.
    double SecondsAt(int64_t tick) const;
};

// Where a streaming Recorder hands what it recorded, as soon as it is
// final: notes and rests in the order they started, each once it has ended
// and every earlier one has been handed on; controls and errors as they come.
class TimelineSink {
public:
    virtual ~TimelineSink() = default;
    virtual void NoteRecorded(const TimedNote& note) = 0;
    virtual void ControlRecorded(const TimedControl& control) = 0;
    virtual void ErrorRecorded(const TimedError& error) = 0;
};

struct RecorderOptions {
    bool keepNotes = true;       // collect every note and rest
    bool keepSlotLevels = false;
    // Notes and rests that start after this measure, and the slot levels
    // from then on, are not kept: the picture of the start of a long song
    // needs no more.
    int32_t keepUntilMeasure = INT32_MAX;
    // Room made for notes up front: a long song's notes are then not copied
    // over and over as their vector grows.
    size_t expectedNotes = 0;
    // The controls and tempo map (off: only their counts and the facts of the end).
    bool keepControls = true;
    // The errors (off: not kept; a sink is still handed each).
    bool keepErrors = true;
    // Streaming: the notes (when kept), controls and errors go to the sink
    // instead of the timeline, which holds only the notes still sounding and
    // those started after them. Flush() hands on the last.
    TimelineSink* sink = nullptr;
};

class Recorder final : public PlaybackListener {
public:
    explicit Recorder(RecorderOptions options = {}) : options_(options) {
        if (options.keepNotes && !options.sink) timeline_.notes.reserve(options.expectedNotes);
    }
    // Hands the notes still held to the sink (a note still sounding with off -1).
    void Flush();

    const Timeline& Result() const { return timeline_; }
    Timeline Take() { return std::move(timeline_); }

    void GroupApplying(const SSONG& song, int32_t banner) override;
    void ControlApplied(const SSONG& song, const SEVENT& event) override;
    void SlotTaken(const SSONG& song, int slot, const SEVENT& event) override;
    void NoteOn(const SSONG& song, int slot) override;
    void TieContinued(const SSONG& song, int slot, const SEVENT& event) override;
    void NoteOff(const SSONG& song, int slot) override;
    void SlotFreed(const SSONG& song, int slot) override;
    void ErrorRaised(const SSONG& song, const PlaybackError& error) override;
    void SongOver(const SSONG& song) override;
    void TickEnded(const SSONG& song) override;
    void QuietTicks(const SSONG& song, int32_t count) override;
    void Stopped(const SSONG& song) override;

private:
    static constexpr int32_t kNone = -1;
    void Close(int slot, int64_t tick, bool restsToo);
    void TempoPointd(int64_t tick, int32_t bpm);
    void CloseAll(int64_t tick);
    void LevelChanged(const SSONG& song);
    int64_t Written(const SSONG& song) const { return song.clock + timeline_.batches; }
    TimedNote& NoteAt(int32_t index) { return timeline_.notes[static_cast<size_t>(index - handedOn_)]; }
    void HandOnEnded();

    RecorderOptions options_;
    Timeline timeline_;
    std::vector<int32_t> open_;  // by slot: its note or rest in timeline_.notes not yet ended, or kNone
    bool batchTookSlot_ = false;  // the group being applied, or the last one, took a slot
    int32_t openCount_ = 0;      // entries of open_ that are not kNone: with none (past the kept
                                 // measures, or keeping no notes) a slot's end needs no look-up
    int32_t handedOn_ = 0;       // streaming: notes given to the sink, and gone from the front of notes
};
