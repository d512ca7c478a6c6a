#include "report/trace.h"

#include "output/output.h"
#include "report/listing.h"
#include "song/tables.h"

namespace {

const SNOTE& Slot(const SSONG& song, int slot) { return song.notes[slot]; }

}  // namespace

// The trace's words are printed exactly as songsim has always printed them,
// misspellings included ("Sighnature", "Canidate", "EVent"): stored traces
// are compared byte for byte, so they stay.

void TraceListener::GroupApplying(const SSONG& /*song*/, int32_t banner) {
    OutLine() << "--------" << banner << "---------\n";
}

void TraceListener::GroupAfterEnd(const SSONG& /*song*/) { OutText("------------- END ------------------\n"); }

void TraceListener::ControlApplied(const SSONG& song, const SEVENT& event) {
    switch (event.code) {
        case kCodeKeySignature: OutLine() << "Key Sighnature " << KeySignatureName(event.value) << '\n'; break;
        case kCodeMeasureBar: OutLine() << "Measure Bar " << song.barsPlayed - barsBefore_ << '\n'; break;
        case kCodeTimeSignature: OutLine() << "Time Signature " << TimeSignatureName(event.value) << '\n'; break;
        default: break;  // tempo, loudness, repeats and the song end print nothing
    }
}

void TraceListener::SlotTaken(const SSONG& song, int slot, const SEVENT& /*event*/) {
    const SNOTE& taken = Slot(song, slot);
    if (taken.channel > 16) Out("WTF Track:%d Chanel = %d\n", taken.track, taken.channel);
}

void TraceListener::NoteOn(const SSONG& song, int slot) {
    const SNOTE& note = Slot(song, slot);
    OutLine() << ">>>>NOTE ON " << NoteNamed{note.note} << ":Track:" << note.track << "@Vel" << note.velocity << '\n';
}

void TraceListener::TieSearched(const SSONG& song, int32_t note, int32_t channel, int found) {
    // "Track" in these lines shows the channel. Every slot up to the match
    // is a candidate, given-back ones included.
    OutLine() << "SEARCH FOR:" << NoteNamed{note} << " on Track " << channel << '\n';
    const int candidates = found >= 0 ? found + 1 : song.noteCount;
    for (int i = 0; i < candidates; ++i) {
        const SNOTE& slot = Slot(song, i);
        OutLine() << "Canidate-" << i << ':' << NoteNamed{slot.note} << '-' << (slot.rest ? 'R' : 'N') << " Track:"
                  << slot.channel << '\n';
    }
}

void TraceListener::NoteOff(const SSONG& song, int slot) {
    const SNOTE& note = Slot(song, slot);
    OutLine() << "<<<<NOTE OFF " << NoteNamed{note.note} << ":Track:" << note.track << ":EVent=" << slot
              << "  Active=" << song.activeCount << '\n';
}

void TraceListener::ErrorRaised(const SSONG& song, const PlaybackError& error) {
    OutLine() << "Error:" << error.code << '\n';
    if (error.code == kErrorHeldPastEnd) PrintNotes(&song);
}

void TraceListener::GroupsDue(const SSONG& song, DueReason /*reason*/) { PrintNotes(&song); }

void TraceListener::GroupsApplied(const SSONG& song, DueReason reason) {
    if (reason == DueReason::TieRanOut)
        OutText("-------------Event Added When Note Dur -> 0 ----------\n");
    else
        OutText("-------------Event Added----------\n");
    PrintNotes(&song);
}

void TraceListener::SongOver(const SSONG& song) { Out("NoteOnOff = %d\n", song.noteOnOff); }

void TraceListener::TickEnded(const SSONG& song) { ticksLines_.Print(song.ticks, 1); }

void TraceListener::QuietTicks(const SSONG& song, int32_t count) { ticksLines_.Print(song.ticks, count); }

void TraceListener::Stopped(const SSONG& song) {
    // Error 1 printed its dump, and the timer's stop its ticks line, already.
    if (song.stopReason != kStopSongEnd) return;
    PrintNotes(&song);
    Out("<<<<NoteOnOff=%d  Active=%d\n", song.noteOnOff, song.activeCount);
}

void TraceListener::HeaderReading(const SSONG& /*song*/) { Out("xxxxxxxxxxxxxxxx GetSongParametersxxxxxxxxxxxxx\n"); }

void TraceListener::TrackBytesRead(const SSONG& /*song*/, int /*track*/, int8_t chanRange, int8_t patch) {
    // Widened with their sign: 0x80 and up print as ffffff80 and up.
    Out("Chan-Range %02x   Patch %02x\n", static_cast<unsigned>(int32_t{chanRange}),
        static_cast<unsigned>(int32_t{patch}));
}

void TraceListener::TempoRead(const SSONG& /*song*/, uint8_t tempo) { Out("Tempo = %d\n", tempo); }
