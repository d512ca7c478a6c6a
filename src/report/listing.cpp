#include "report/listing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "containers/list.h"
#include "output/output.h"
#include "song/tables.h"

namespace {

void PrintEvent(const SEVENT& event, int32_t& bars, std::span<char> noteName) {
    if (event.kind == kEventNote) {
        FormatNoteName(noteName, event.code);
        Out("NOTE=%s  Dur=%s Track = %d TB:%d TE:%d R:%d\n", noteName.data(), DurationName(event.value),
            event.track, (event.flags & kFlagTieBegin) ? 1 : 0, (event.flags & kFlagTieEnd) ? 1 : 0,
            (event.flags & kFlagRest) ? 1 : 0);
        return;
    }
    if (event.kind != kEventControl) return;
    switch (event.code) {
        case kCodeKeySignature: Out("KEY Signature:%s\n", KeySignatureName(event.value)); break;
        case kCodeTempo: Out("Tempo:%d\n", event.value); break;
        case kCodeMeasureBar: Out("Measure Bar %d\n", ++bars); break;
        case kCodeTimeSignature: Out("Time Signature:%d\n", event.value); break;
        case kCodeLoudness: Out("Loudness:%d\n", event.value); break;
        case kCodeRepeatStart: Out("Repeat START:%d\n", event.value); break;
        case kCodeRepeatEnd: Out("REPEAT end:\n"); break;
        case kCodeSongEnd: Out("*******SONG END********\n"); break;
        default: break;
    }
}

constexpr std::string_view kSlotFrame = "xxxxxxxxxxxxxxxxxxxxxxxxxxxx\n";

}  // namespace

void PrintSong(SSONG* song) {
    std::array<char, 128> noteName{};
    int32_t bars = 0;  // the listing numbers its bars from 1
    Out("---------------- Print %s ------------------\n", song->title);
    for (void* group = ListHead(&song->events); group; group = ListNext(group)) {
        for (const SEVENT* event = static_cast<const SEVENT*>(group); event; event = event->next) {
            PrintEvent(*event, bars, noteName);
            OutFlush();
        }
    }
}

void PrintNotes(const SSONG* song) {
    std::array<char, 256> noteName{};
    OutText(kSlotFrame);
    if (song->activeCount == 0) {
        Out("No Events\n");
    } else {
        int index = 0;
        for (const SNOTE& slot : std::span(song->notes, static_cast<size_t>(song->noteCount))) {
            if (slot.inUse) {
                FormatNoteName(noteName, slot.note);
                Out("%2d::Note=%s::%d  %s Dur=%d TB=%d  TE=%d R=%d\n", index, noteName.data(), slot.channel,
                    DurationName(slot.durationCode), slot.remaining, slot.tieBegin, slot.tieEnd, slot.rest);
            }
            ++index;
        }
    }
    OutText(kSlotFrame);
}

int32_t FormatTracks(std::span<char> buffer, const SSONG* song) {
    size_t total = 0;
    if (!buffer.empty()) buffer[0] = '\0';
    for (int i = 0; i < kTrackCount && total < buffer.size(); ++i) {
        const STRACK& track = song->tracks[i];
        const int written = std::snprintf(buffer.data() + total, buffer.size() - total,
                                          "%2d->%20s:CH[%d]:#%d OCT=%d OCTn=%d:%s\n", i, track.name,
                                          track.channel, track.patch, track.octave, track.octaveShift,
                                          track.enabled ? "ON" : "OFF");
        if (written < 0) break;
        // A buffer too small for the table keeps what fits, terminated.
        total += std::min(static_cast<size_t>(written), buffer.size() - total - 1);
    }
    return static_cast<int32_t>(total);
}
