#include "playback/group.h"

#include "containers/list.h"
#include "playback/slots.h"
#include "report/listing.h"
#include "output/output.h"
#include "song/tables.h"

namespace {

bool IsTrack(int32_t track) { return track >= 0 && track < kTrackCount; }

int16_t RemainingFor(int32_t durationCode) { return static_cast<int16_t>(DurationTicks(durationCode) - 1); }

// A tie-end note reloads the slot of the note it continues.
void ContinueTie(SSONG* song, const SEVENT& event, int32_t& groupMax) {
    SNOTE* slot = FindNote(event.code, song->tracks[event.track].channel, song->notes, song->noteCount);
    if (!slot) {
        ReportError(kErrorTieNotFound, song);
        return;
    }
    slot->tieBegin = (event.flags & kFlagTieBegin) ? 1 : 0;
    slot->tieEnd = (event.flags & kFlagTieEnd) ? 1 : 0;
    slot->durationCode = static_cast<int16_t>(event.value);
    slot->remaining = RemainingFor(event.value);
    if (slot->remaining > groupMax) groupMax = slot->remaining;
}

void StartNote(SSONG* song, const SEVENT& event, int32_t& groupMax) {
    SNOTE* slot = AllocNote(song, song->noteCount);
    if (!slot) {
        ReportError(kErrorNoFreeSlot, song);
        return;
    }
    slot->note = static_cast<int16_t>(event.code);
    slot->durationCode = static_cast<int16_t>(event.value);
    slot->remaining = RemainingFor(event.value);
    if (slot->remaining > groupMax) groupMax = slot->remaining;
    slot->track = static_cast<int16_t>(event.track);
    slot->channel = song->tracks[event.track].channel;
    if (slot->channel > 16) Out("WTF Track:%d Chanel = %d\n", slot->track, slot->channel);
    slot->rest = (event.flags & kFlagRest) ? 1 : 0;
    slot->tieBegin = (event.flags & kFlagTieBegin) ? 1 : 0;
    slot->tieEnd = (event.flags & kFlagTieEnd) ? 1 : 0;
    const int loudness = song->tracks[event.track].loudness;
    slot->velocity = static_cast<int16_t>(loudness + ((event.flags & kFlagAccent) ? 20 : 0));
    if (slot->velocity > 127) slot->velocity = 127;
    if (!slot->tieEnd && !slot->rest) NoteOn(slot);
}

void ApplyNote(SSONG* song, const SEVENT& event, int32_t& groupMax) {
    // A track nibble of 0 (track -1) names no track: the note is not played.
    if (!IsTrack(event.track)) {
        ReportError(kErrorNoSuchTrack, song);
        return;
    }
    if (event.flags & kFlagTieEnd)
        ContinueTie(song, event, groupMax);
    else
        StartNote(song, event, groupMax);
}

// Tempo as the period in tenths of a beat, rounded to nearest, an exact half down.
void ApplyTempo(SSONG* song, SEVENT& event) {
    if (event.value == 0) event.value = 120;
    song->tickPeriod = 1200 / event.value + (1200 % event.value > event.value / 2 ? 1 : 0);
}

// Returns true for the song-end event.
bool ApplyControl(SSONG* song, SEVENT& event) {
    switch (event.code) {
        case kCodeKeySignature: Out("Key Sighnature %s\n", KeySignatureName(event.value)); break;
        case kCodeTempo: ApplyTempo(song, event); break;
        case kCodeMeasureBar: Out("Measure Bar %d\n", ++song->measureCount); break;
        case kCodeTimeSignature: Out("Time Signature %s\n", TimeSignatureName(event.value)); break;
        case kCodeLoudness:
            for (STRACK& track : song->tracks) track.loudness = static_cast<int16_t>(event.value);
            break;
        case kCodeSongEnd: song->songEnd = 1; return true;
        default: break;  // repeats play straight through
    }
    return false;
}

}  // namespace

int32_t ProcessGroup(SSONG* song, int32_t setTicks) {
    int32_t groupMax = 0;
    bool appliedSongEnd = false;
    if (song->songEnd) {
        Out("------------- END ------------------\n");
    } else {
        // The banner counter advances by two per group: 1, 3, 5, ...
        Out("--------%d---------\n", ++song->groupCount);
        ++song->groupCount;
        if (!song->current) song->current = static_cast<SEVENT*>(ListHead(&song->events));
        for (SEVENT* event = song->current; event; event = event->next) {
            if (event->kind == kEventNote)
                ApplyNote(song, *event, groupMax);
            else if (event->kind == kEventControl && ApplyControl(song, *event))
                appliedSongEnd = true;
        }
    }
    if (song->current) song->current = static_cast<SEVENT*>(ListNext(song->current));
    if (setTicks) song->ticks = groupMax;
    return appliedSongEnd ? 1 : 0;
}
