// What playback tells its listeners. The engine counts and decides; it
// prints nothing. The trace is one listener (report/trace.h) and every
// feature that needs the playback (the check, the exporters, the picture)
// is another.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "song/song.h"

// Playback errors: counted in the song's errorCount and reported with where
// they happened.
inline constexpr int32_t kErrorHeldPastEnd = 1;  // a slot still held a tick after running out
inline constexpr int32_t kErrorTieNotFound = 2;  // a tie continuation found no note
inline constexpr int32_t kErrorOverdue = 3;      // a slot held 300 ticks past its end, forced off
inline constexpr int32_t kErrorNoSuchTrack = 4;  // a note on a track outside 0..14, not played
inline constexpr int32_t kErrorNoFreeSlot = 5;   // a new note found every slot taken, not played

struct PlaybackError {
    int32_t code;
    int32_t track;  // the note's track, -1 where the event named no track
    int32_t note;   // its note number
};

// The fatal conditions that stop playback (SSONG::stopReason).
inline constexpr int32_t kStopNone = 0;
inline constexpr int32_t kStopHeldPastEnd = 1;  // an untied note held past its end (error 1)
inline constexpr int32_t kStopSongEnd = 2;      // the song end applied while notes still sound
inline constexpr int32_t kStopTimerLimit = 3;   // the group timer fell below -1000

// Why the groups of a tick became due.
enum class DueReason { TieRanOut, TimerRanOut };

// In words, for people: "tie continuation found no note".
std::string_view ErrorMeaning(int32_t code);
std::string_view StopMeaning(int32_t reason);
// "error 2 at tick 95, measure 3: tie continuation found no note (track 1
// Bass, note C5)": `track` names the track as the caller knows it.
std::string ErrorSentence(const PlaybackError& error, int64_t tick, int32_t measure, std::string_view track);
// As a stable key, for scripts: "held-past-end", "song-end", "timer-limit".
std::string_view StopKey(int32_t reason);

class PlaybackListener {
public:
    virtual ~PlaybackListener() = default;

    // A group is applied next; `banner` numbers it (1, 3, 5, ...).
    virtual void GroupApplying(const SSONG& /*song*/, int32_t /*banner*/) {}
    // A group was asked for after the song end: nothing is applied.
    virtual void GroupAfterEnd(const SSONG& /*song*/) {}
    // A control event took effect (a measure bar is counted already).
    virtual void ControlApplied(const SSONG& /*song*/, const SEVENT& /*event*/) {}
    // A new note or rest took slot `slot`, filled from `event`.
    virtual void SlotTaken(const SSONG& /*song*/, int /*slot*/, const SEVENT& /*event*/) {}
    // The note of `slot` starts sounding (counted in noteOnOff).
    virtual void NoteOn(const SSONG& /*song*/, int /*slot*/) {}
    // A tie-end note looked for the note it continues on `channel`; `found`
    // is the slot that matched, or -1.
    virtual void TieSearched(const SSONG& /*song*/, int32_t /*note*/, int32_t /*channel*/, int /*found*/) {}
    // The tie-end note reloaded the held note of `slot`.
    virtual void TieContinued(const SSONG& /*song*/, int /*slot*/, const SEVENT& /*event*/) {}
    // The note of `slot` is traced off (counted in noteOnOff): two ticks
    // before its end, or forced off by error 3.
    virtual void NoteOff(const SSONG& /*song*/, int /*slot*/) {}
    // `slot` is given back.
    virtual void SlotFreed(const SSONG& /*song*/, int /*slot*/) {}
    // An error, counted in errorCount already.
    virtual void ErrorRaised(const SSONG& /*song*/, const PlaybackError& /*error*/) {}
    // The groups due in this tick are about to be applied, and have been.
    virtual void GroupsDue(const SSONG& /*song*/, DueReason /*reason*/) {}
    virtual void GroupsApplied(const SSONG& /*song*/, DueReason /*reason*/) {}
    // The song end has been applied and no slot is in use: a clean end.
    virtual void SongOver(const SSONG& /*song*/) {}
    // Tick song.clock ended, with the group timer at song.ticks.
    virtual void TickEnded(const SSONG& /*song*/) {}
    // `count` ticks in which nothing but the countdown happened, ending at
    // song.clock with the timer at song.ticks.
    virtual void QuietTicks(const SSONG& /*song*/, int32_t /*count*/) {}
    // Playback stopped on song.stopReason, in tick song.clock.
    virtual void Stopped(const SSONG& /*song*/) {}
};

// The song's listener, or one that ignores everything. (Called several
// times a tick: kept inline, with no guard for a local static.)
inline PlaybackListener gNoListener;
inline PlaybackListener& ListenerOf(const SSONG* song) { return song->listener ? *song->listener : gNoListener; }
