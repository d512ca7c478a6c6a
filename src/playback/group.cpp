#include "playback/group.h"

#include "song/codec.h"

#include "containers/list.h"
#include "playback/listener.h"
#include "playback/slots.h"
#include "song/parser.h"
#include "song/tables.h"

namespace {

int16_t RemainingFor(int32_t durationCode) { return static_cast<int16_t>(DurationTicks(durationCode) - 1); }

void RaiseError(SSONG* song, const SEVENT& event, int32_t code) {
    ReportError(song, {.code = code, .track = event.track, .note = event.code});
}

// A tie-end note reloads the slot of the note it continues.
void ContinueTie(SSONG* song, const SEVENT& event, int32_t& groupMax) {
    const int32_t channel = song->tracks[event.track].channel;
    SNOTE* slot = FindNote(event.code, channel, song->notes, song->noteCount);
    ListenerOf(song).TieSearched(*song, event.code, channel, slot ? SlotIndex(song, slot) : -1);
    if (!slot) {
        RaiseError(song, event, kErrorTieNotFound);
        return;
    }
    slot->tieBegin = (event.flags & kFlagTieBegin) ? 1 : 0;
    slot->tieEnd = (event.flags & kFlagTieEnd) ? 1 : 0;
    slot->durationCode = static_cast<int16_t>(event.value);
    slot->remaining = RemainingFor(event.value);
    if (slot->remaining > groupMax) groupMax = slot->remaining;
    ListenerOf(song).TieContinued(*song, SlotIndex(song, slot), event);
}

void StartNote(SSONG* song, const SEVENT& event, int32_t& groupMax) {
    SNOTE* slot = AllocNote(song, song->noteCount);
    if (!slot) {
        RaiseError(song, event, kErrorNoFreeSlot);
        return;
    }
    slot->note = static_cast<int16_t>(event.code);
    slot->durationCode = static_cast<int16_t>(event.value);
    slot->remaining = RemainingFor(event.value);
    if (slot->remaining > groupMax) groupMax = slot->remaining;
    slot->track = static_cast<int16_t>(event.track);
    slot->channel = song->tracks[event.track].channel;
    slot->rest = (event.flags & kFlagRest) ? 1 : 0;
    slot->tieBegin = (event.flags & kFlagTieBegin) ? 1 : 0;
    slot->tieEnd = (event.flags & kFlagTieEnd) ? 1 : 0;
    const int loudness = song->tracks[event.track].loudness;
    slot->velocity = static_cast<int16_t>(loudness + ((event.flags & kFlagAccent) ? 20 : 0));
    if (slot->velocity > 127) slot->velocity = 127;
    ListenerOf(song).SlotTaken(*song, SlotIndex(song, slot), event);
    if (!slot->tieEnd && !slot->rest) NoteOn(song, slot);
}

void ApplyNote(SSONG* song, const SEVENT& event, int32_t& groupMax) {
    // A track nibble of 0 (track -1) names no track: the note is not played.
    if (!IsTrackNumber(event.track)) {
        RaiseError(song, event, kErrorNoSuchTrack);
        return;
    }
    if (event.flags & kFlagTieEnd)
        ContinueTie(song, event, groupMax);
    else
        StartNote(song, event, groupMax);
}

// Tempo as the period in tenths of a beat, rounded to nearest, an exact half down.
void ApplyTempo(SSONG* song, SEVENT& event) {
    // The parse keeps a tempo byte of 0 as a period of 0; the engine plays
    // it as 120, written into the event for the rest of the run.
    if (event.value == 0) event.value = kDefaultTempo;
    song->tickPeriod = 1200 / event.value + (1200 % event.value > event.value / 2 ? 1 : 0);
}

// Returns true for the song-end event.
bool ApplyControl(SSONG* song, SEVENT& event) {
    switch (event.code) {
        case kCodeTempo: ApplyTempo(song, event); break;
        case kCodeMeasureBar:
            ++song->barsPlayed;
            break;
        case kCodeLoudness:
            for (STRACK& track : song->tracks) track.loudness = static_cast<int16_t>(event.value);
            break;
        case kCodeSongEnd: song->songEnd = 1; break;
        default: break;  // key and time signatures change nothing; repeats play straight through
    }
    ListenerOf(song).ControlApplied(*song, event);
    return event.code == kCodeSongEnd;
}

// The group after `current`. A song parsed up front holds them all in its
// list; a song parsed as it plays gets each as playback reaches it and lets
// go of each once played, so its memory does not grow with its length.
SEVENT* NextGroup(SSONG* song) {
    SEVENT* played = song->current;
    auto* next = static_cast<SEVENT*>(ListNext(played));
    if (song->streamState == kStreamParsedUpFront) return next;
    ListRemove(&song->events, played);
    FreeGroup(played);
    if (!next) next = ParseNextGroup(song);
    // Memory ran out: the song ends here rather than start over.
    if (song->streamState == kStreamFailed) song->songEnd = 1;
    return next;
}

}  // namespace

void ReportError(SSONG* song, const PlaybackError& error) {
    ++song->errorCount;
    ListenerOf(song).ErrorRaised(*song, error);
}

int32_t ProcessGroup(SSONG* song, int32_t setTicks) {
    int32_t groupMax = 0;
    bool appliedSongEnd = false;
    if (song->songEnd) {
        ListenerOf(song).GroupAfterEnd(*song);
    } else {
        // The banner counter advances by two per group: 1, 3, 5, ...
        song->groupCount += 2;
        ListenerOf(song).GroupApplying(*song, song->groupCount - 1);
        if (!song->current) song->current = static_cast<SEVENT*>(ListHead(&song->events));
        for (SEVENT* event = song->current; event; event = event->next) {
            if (event->kind == kEventNote)
                ApplyNote(song, *event, groupMax);
            else if (event->kind == kEventControl && ApplyControl(song, *event))
                appliedSongEnd = true;
        }
    }
    if (song->current) song->current = NextGroup(song);
    if (setTicks) song->ticks = groupMax;
    return appliedSongEnd ? 1 : 0;
}
