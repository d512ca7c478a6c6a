#include "playback/tick.h"

#include <algorithm>
#include <initializer_list>
#include <span>

#include "playback/group.h"
#include "playback/listener.h"
#include "playback/slots.h"

namespace {

// Where a slot's countdown does something: the values of `remaining` at
// which the rules of StepAt apply.
constexpr int32_t kOffTrace = 2;      // NOTE OFF two ticks before the end
constexpr int32_t kRunOut = 0;        // given back, or held when tied on
constexpr int32_t kHeldPastEnd = -1;  // still held a tick after running out: error 1
constexpr int32_t kOverdue = -301;    // held 300 ticks past its end: error 3, forced off
constexpr int32_t kTimerLimit = -1000;  // a group timer below this can never come due

enum class SlotStep { Quiet, TraceOff, RunOut, HeldPastEnd, Overdue };

// What the countdown does with a slot once its `remaining` has become
// `remaining`; the first rule that fits applies.
SlotStep StepAt(const SNOTE& slot, int32_t remaining) {
    if (remaining == kOffTrace && !slot.rest && !slot.tieBegin) return SlotStep::TraceOff;
    if (remaining == kRunOut) return SlotStep::RunOut;
    if (remaining == kHeldPastEnd) return SlotStep::HeldPastEnd;
    if (remaining <= kOverdue) return SlotStep::Overdue;
    return SlotStep::Quiet;
}

// The countdown steps of a slot that are quiet before the first that is not.
int32_t QuietStepsOf(const SNOTE& slot) {
    for (const int32_t at : {kOffTrace, kRunOut, kHeldPastEnd, kOverdue})
        if (at < slot.remaining && StepAt(slot, at) != SlotStep::Quiet) return slot.remaining - at - 1;
    return 0;
}

// The same for the group timer: groups fall due at 0, and below the limit
// playback stops.
int32_t QuietStepsOfTimer(int32_t ticks) { return ticks > 0 ? ticks - 1 : ticks - kTimerLimit; }

std::span<SNOTE> Pool(SSONG* song) { return {song->notes, static_cast<size_t>(song->noteCount)}; }

// Applies groups until one takes a slot or the song ends; `setTicks` says
// whether a call should load the group timer.
template <typename SetTicks>
void ApplyDueGroups(SSONG* song, SetTicks setTicks) {
    const int32_t active = song->activeCount;
    do {
        ProcessGroup(song, setTicks());
    } while (song->activeCount == active && !song->songEnd);
}

void Stop(SSONG* song, int32_t reason) {
    song->stopReason = reason;
    ListenerOf(song).Stopped(*song);
}

}  // namespace

void PrimePlayback(SSONG* song) {
    ApplyDueGroups(song, [] { return 1; });
}

int32_t UpdateNotes(SSONG* song) {
    int32_t tieRanOut = 0;
    // No slot is taken during the countdown, so the scan can stop after the
    // last slot that was in use when it began.
    int32_t inUseLeft = song->activeCount;
    for (SNOTE& slot : Pool(song)) {
        if (inUseLeft == 0) break;
        if (!slot.inUse) continue;
        --inUseLeft;
        slot.remaining = static_cast<int16_t>(slot.remaining - 1);
        switch (StepAt(slot, slot.remaining)) {
            case SlotStep::Quiet: break;
            case SlotStep::TraceOff: NoteOff(song, &slot); break;
            case SlotStep::RunOut:
                if (slot.tieBegin)
                    tieRanOut = 1;
                else
                    FreeNote(song, &slot);
                break;
            case SlotStep::HeldPastEnd:
                ReportError(song, {.code = kErrorHeldPastEnd, .track = slot.track, .note = slot.note});
                if (!slot.tieBegin) {
                    Stop(song, kStopHeldPastEnd);
                    return tieRanOut;
                }
                break;
            case SlotStep::Overdue:
                ReportError(song, {.code = kErrorOverdue, .track = slot.track, .note = slot.note});
                NoteOff(song, &slot);
                FreeNote(song, &slot);
                break;
        }
    }
    if (song->songEnd) Stop(song, kStopSongEnd);
    return tieRanOut;
}

int32_t QuietTicks(const SSONG* song) {
    if (song->songEnd) return 0;  // the next countdown ends the run
    int32_t quiet = QuietStepsOfTimer(song->ticks);
    int32_t inUseLeft = song->activeCount;
    for (const SNOTE& slot : std::span(song->notes, static_cast<size_t>(song->noteCount))) {
        if (inUseLeft == 0 || quiet <= 0) break;
        if (!slot.inUse) continue;
        --inUseLeft;
        quiet = std::min(quiet, QuietStepsOf(slot));
    }
    return std::max(quiet, 0);
}

void PlayQuietTicks(SSONG* song) {
    const int32_t quiet = QuietTicks(song);
    if (quiet == 0) return;
    int32_t inUseLeft = song->activeCount;
    for (SNOTE& slot : Pool(song)) {
        if (inUseLeft == 0) break;
        if (!slot.inUse) continue;
        --inUseLeft;
        slot.remaining = static_cast<int16_t>(slot.remaining - quiet);
    }
    song->ticks -= quiet;
    song->clock += quiet;
    ListenerOf(song).QuietTicks(*song, quiet);
}

int32_t PlayTick(SSONG* song) {
    int32_t result = kTickDone;
    ++song->clock;
    --song->ticks;
    const int32_t tieRanOut = UpdateNotes(song);
    if (song->stopReason != kStopNone) return kTickStopped;
    PlaybackListener& listener = ListenerOf(song);
    if (tieRanOut) {
        listener.GroupsDue(*song, DueReason::TieRanOut);
        ApplyDueGroups(song, [song] { return song->ticks == 0 ? 1 : 0; });
        listener.GroupsApplied(*song, DueReason::TieRanOut);
    } else if (song->ticks == 0) {
        listener.GroupsDue(*song, DueReason::TimerRanOut);
        ApplyDueGroups(song, [] { return 1; });
        listener.GroupsApplied(*song, DueReason::TimerRanOut);
        result = kTickGroupsDue;
    }
    if (song->songEnd && song->activeCount == 0) {
        listener.SongOver(*song);
        result = kTickSongOver;
    }
    listener.TickEnded(*song);
    if (song->ticks < kTimerLimit) {
        Stop(song, kStopTimerLimit);
        return kTickStopped;
    }
    return result;
}

int32_t PlayToEnd(SSONG* song) {
    for (;;) {
        PlayQuietTicks(song);
        const int32_t result = PlayTick(song);
        if (result == kTickSongOver || result == kTickStopped) return result;
    }
}

int32_t PlaySong(SSONG* song, PlaybackListener& listener) {
    song->listener = &listener;
    PrimePlayback(song);
    const int32_t end = PlayToEnd(song);
    song->listener = nullptr;
    return end;
}
