#include "playback/tick.h"

#include <algorithm>
#include <charconv>
#include <span>
#include <string_view>

#include "playback/group.h"
#include "playback/slots.h"
#include "playback/stop.h"
#include "report/listing.h"
#include "output/output.h"

namespace {

constexpr int32_t kOffTrace = 2;        // NOTE OFF two ticks before the end
constexpr int32_t kOverdue = -300;      // a held slot is forced off below this
constexpr int32_t kTimerLimit = -1000;  // no group can come due any more

// Applies groups until one takes a slot or the song ends; `setTicks` says
// whether a call should load the group timer.
template <typename SetTicks>
void ApplyDueGroups(SSONG* song, SetTicks setTicks) {
    const int32_t active = song->activeCount;
    do {
        ProcessGroup(song, setTicks());
    } while (song->activeCount == active && !song->songEnd);
}

// "******** Ticks = %d ********\n", once per tick: most of a long song's
// output, so it is put together from its parts rather than formatted.
void PrintTicksLine(int32_t ticks) {
    constexpr std::string_view kBefore = "******** Ticks = ";
    constexpr std::string_view kAfter = " ********\n";
    char line[kBefore.size() + 11 + kAfter.size()];
    kBefore.copy(line, kBefore.size());
    char* at = std::to_chars(line + kBefore.size(), line + sizeof line, ticks).ptr;
    at += kAfter.copy(at, kAfter.size());
    OutText(std::string_view(line, static_cast<size_t>(at - line)));
}

}  // namespace

int32_t UpdateNotes(SSONG* song) {
    int32_t tieRanOut = 0;
    // No slot is taken during the countdown, so the scan can stop after the
    // last slot that was in use when it began.
    int32_t inUseLeft = song->activeCount;
    for (int32_t i = 0; i < song->noteCount && inUseLeft > 0; ++i) {
        SNOTE& slot = song->notes[i];
        if (!slot.inUse) continue;
        --inUseLeft;
        slot.remaining = static_cast<int16_t>(slot.remaining - 1);
        if (slot.remaining == kOffTrace && !slot.rest && !slot.tieBegin) {
            NoteOff(&slot, i, song->activeCount);
        } else if (slot.remaining == 0) {
            if (slot.tieBegin)
                tieRanOut = 1;
            else
                FreeNote(song, &slot);
        } else if (slot.remaining == -1) {
            ReportError(kErrorHeldPastEnd, song);
            PrintNotes(song);
            if (!slot.tieBegin) StopProcess(1);
        } else if (slot.remaining < kOverdue) {
            ReportError(kErrorOverdue, song);
            NoteOff(&slot, i, song->activeCount);
            FreeNote(song, &slot);
        }
    }
    if (song->songEnd) {
        PrintNotes(song);
        Out("<<<<NoteOnOff=%d  Active=%d\n", NoteOnOff, song->activeCount);
        StopProcess(1);
    }
    return tieRanOut;
}

int32_t QuietTicks(const SSONG* song) {
    if (song->songEnd) return 0;  // the next countdown ends the run
    // The timer: groups fall due at 0; below kTimerLimit the run stops.
    int32_t quiet = song->ticks > 0 ? song->ticks - 1 : song->ticks - kTimerLimit;
    for (const SNOTE& slot : std::span(song->notes, static_cast<size_t>(song->noteCount))) {
        if (!slot.inUse) continue;
        const int32_t remaining = slot.remaining;
        int32_t limit = 0;  // at 0, the next countdown reaches -1: error 1
        if (remaining < 0)
            limit = remaining - kOverdue;  // forced off below kOverdue
        else if (remaining > kOffTrace && !slot.rest && !slot.tieBegin)
            limit = remaining - kOffTrace - 1;  // NOTE OFF at kOffTrace
        else if (remaining > 0)
            limit = remaining - 1;  // given back, or held, at 0
        quiet = std::min(quiet, limit);
    }
    return std::max(quiet, 0);
}

void PlayQuietTicks(SSONG* song) {
    const int32_t quiet = QuietTicks(song);
    if (quiet == 0) return;
    for (SNOTE& slot : std::span(song->notes, static_cast<size_t>(song->noteCount))) {
        if (slot.inUse) slot.remaining = static_cast<int16_t>(slot.remaining - quiet);
    }
    for (int32_t tick = 0; tick < quiet; ++tick) PrintTicksLine(--song->ticks);
}

int32_t PlayTick(SSONG* song) {
    int32_t result = kTickDone;
    --song->ticks;
    if (UpdateNotes(song)) {
        PrintNotes(song);
        ApplyDueGroups(song, [song] { return song->ticks == 0 ? 1 : 0; });
        Out("-------------Event Added When Note Dur -> 0 ----------\n");
        PrintNotes(song);
    } else if (song->ticks == 0) {
        PrintNotes(song);
        ApplyDueGroups(song, [] { return 1; });
        Out("-------------Event Added----------\n");
        PrintNotes(song);
        result = kTickGroupsDue;
    }
    if (song->songEnd && song->activeCount == 0) {
        Out("NoteOnOff = %d\n", NoteOnOff);
        result = kTickSongOver;
    }
    PrintTicksLine(song->ticks);
    if (song->ticks < kTimerLimit) StopProcess(1);
    return result;
}
