#include "report/listing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "containers/list.h"
#include "output/output.h"
#include "song/tables.h"

namespace {

// A flag bit as 0 or 1.
char Bit(uint32_t flags, uint32_t bit) { return (flags & bit) ? '1' : '0'; }

void PrintEvent(const SEVENT& event, int32_t& bars) {
    if (event.kind == kEventNote) {
        OutLine() << "NOTE=" << NoteNamed{event.code} << "  Dur=" << DurationNamed{event.value}
                  << " Track = " << event.track << " TB:" << Bit(event.flags, kFlagTieBegin)
                  << " TE:" << Bit(event.flags, kFlagTieEnd) << " R:" << Bit(event.flags, kFlagRest) << '\n';
        return;
    }
    if (event.kind != kEventControl) return;
    switch (event.code) {
        case kCodeKeySignature: OutLine() << "KEY Signature:" << KeySignatureName(event.value) << '\n'; break;
        case kCodeTempo: OutLine() << "Tempo:" << event.value << '\n'; break;
        case kCodeMeasureBar: OutLine() << "Measure Bar " << ++bars << '\n'; break;
        case kCodeTimeSignature: OutLine() << "Time Signature:" << event.value << '\n'; break;
        case kCodeLoudness: OutLine() << "Loudness:" << event.value << '\n'; break;
        case kCodeRepeatStart: OutLine() << "Repeat START:" << event.value << '\n'; break;
        case kCodeRepeatEnd: OutText("REPEAT end:\n"); break;
        case kCodeSongEnd: OutText("*******SONG END********\n"); break;
        default: break;
    }
}

constexpr std::string_view kSlotFrame = "xxxxxxxxxxxxxxxxxxxxxxxxxxxx\n";

}  // namespace

void PrintSong(SSONG* song) {
    int32_t bars = 0;  // the listing numbers its bars from 1
    Out("---------------- Print %s ------------------\n", song->title);
    for (void* group = ListHead(&song->events); group; group = ListNext(group)) {
        for (const SEVENT* event = static_cast<const SEVENT*>(group); event; event = event->next) {
            PrintEvent(*event, bars);
            OutFlush();
        }
    }
}

void PrintNotes(const SSONG* song) {
    OutText(kSlotFrame);
    if (song->activeCount == 0) {
        OutText("No Events\n");
    } else {
        int index = 0;
        for (const SNOTE& slot : std::span(song->notes, static_cast<size_t>(song->noteCount))) {
            if (slot.inUse) {
                OutLine().Right(index, 2)
                    << "::Note=" << NoteNamed{slot.note} << "::" << slot.channel << "  "
                    << DurationNamed{slot.durationCode} << " Dur=" << slot.remaining << " TB=" << slot.tieBegin
                    << "  TE=" << slot.tieEnd << " R=" << slot.rest << '\n';
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
