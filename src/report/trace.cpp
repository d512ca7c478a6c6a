#include "report/trace.h"

#include <array>
#include <charconv>
#include <span>
#include <string_view>

#include "output/output.h"
#include "report/listing.h"
#include "song/tables.h"

namespace {

// "******** Ticks = %d ********\n", once per tick: most of a long song's
// output, so the lines are put together from their parts rather than
// formatted, a run of quiet ticks at a time.
class TicksLines {
public:
    void Add(int32_t ticks) {
        if (sizeof text_ - used_ < kLongest) Flush();
        char* at = text_ + used_;
        at += kBefore.copy(at, kBefore.size());
        at = std::to_chars(at, text_ + sizeof text_, ticks).ptr;
        at += kAfter.copy(at, kAfter.size());
        used_ = static_cast<size_t>(at - text_);
    }
    void Flush() {
        OutText(std::string_view(text_, used_));
        used_ = 0;
    }

private:
    static constexpr std::string_view kBefore = "******** Ticks = ";
    static constexpr std::string_view kAfter = " ********\n";
    static constexpr size_t kLongest = kBefore.size() + 11 + kAfter.size();
    char text_[4096];
    size_t used_ = 0;
};

// The lines of `count` ticks, the last of which left the timer at `ticks`.
void PrintTicksLines(int32_t ticks, int32_t count) {
    TicksLines lines;
    for (int32_t left = count - 1; left >= 0; --left) lines.Add(ticks + left);
    lines.Flush();
}

const SNOTE& Slot(const SSONG& song, int slot) { return song.notes[slot]; }

}  // namespace

// The trace's words are printed exactly as songsim has always printed them,
// misspellings included ("Sighnature", "Canidate", "EVent"): stored traces
// are compared byte for byte, so they stay.

void TraceListener::GroupApplying(const SSONG& /*song*/, int32_t banner) { Out("--------%d---------\n", banner); }

void TraceListener::GroupAfterEnd(const SSONG& /*song*/) { Out("------------- END ------------------\n"); }

void TraceListener::ControlApplied(const SSONG& song, const SEVENT& event) {
    switch (event.code) {
        case kCodeKeySignature: Out("Key Sighnature %s\n", KeySignatureName(event.value)); break;
        case kCodeMeasureBar: Out("Measure Bar %d\n", song.barsPlayed - barsBefore_); break;
        case kCodeTimeSignature: Out("Time Signature %s\n", TimeSignatureName(event.value)); break;
        default: break;  // tempo, loudness, repeats and the song end print nothing
    }
}

void TraceListener::SlotTaken(const SSONG& song, int slot, const SEVENT& /*event*/) {
    const SNOTE& taken = Slot(song, slot);
    if (taken.channel > 16) Out("WTF Track:%d Chanel = %d\n", taken.track, taken.channel);
}

void TraceListener::NoteOn(const SSONG& song, int slot) {
    const SNOTE& note = Slot(song, slot);
    std::array<char, 256> name{};
    FormatNoteName(name, note.note);
    Out(">>>>NOTE ON %s:Track:%d@Vel%d\n", name.data(), note.track, note.velocity);
}

void TraceListener::TieSearched(const SSONG& song, int32_t note, int32_t channel, int found) {
    // "Track" in these lines shows the channel. Every slot up to the match
    // is a candidate, given-back ones included.
    Out("SEARCH FOR:%s on Track %d\n", NoteName(note), channel);
    const int candidates = found >= 0 ? found + 1 : song.noteCount;
    for (int i = 0; i < candidates; ++i) {
        const SNOTE& slot = Slot(song, i);
        Out("Canidate-%d:%s-%s Track:%d\n", i, NoteName(slot.note), slot.rest ? "R" : "N", slot.channel);
    }
}

void TraceListener::NoteOff(const SSONG& song, int slot) {
    const SNOTE& note = Slot(song, slot);
    std::array<char, 256> name{};
    FormatNoteName(name, note.note);
    Out("<<<<NOTE OFF %s:Track:%d:EVent=%d  Active=%d\n", name.data(), note.track, slot, song.activeCount);
}

void TraceListener::ErrorRaised(const SSONG& song, const PlaybackError& error) {
    Out("Error:%d\n", error.code);
    if (error.code == kErrorHeldPastEnd) PrintNotes(&song);
}

void TraceListener::GroupsDue(const SSONG& song, DueReason /*reason*/) { PrintNotes(&song); }

void TraceListener::GroupsApplied(const SSONG& song, DueReason reason) {
    if (reason == DueReason::TieRanOut)
        Out("-------------Event Added When Note Dur -> 0 ----------\n");
    else
        Out("-------------Event Added----------\n");
    PrintNotes(&song);
}

void TraceListener::SongOver(const SSONG& song) { Out("NoteOnOff = %d\n", song.noteOnOff); }

void TraceListener::TickEnded(const SSONG& song) { PrintTicksLines(song.ticks, 1); }

void TraceListener::QuietTicks(const SSONG& song, int32_t count) { PrintTicksLines(song.ticks, count); }

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
