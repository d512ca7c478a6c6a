// Builders for the expected standard output of whole songsim runs. Each
// function writes one fixed piece of the output (a banner, a trace line, a
// slot dump, a run of tick lines, the track table) from values the test works
// out by hand, so a test reads as the sequence of things that happen.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace expected {

inline std::string Line(std::string_view text) { return std::string(text) + "\n"; }

inline std::string Num(int value) { return std::to_string(value); }

// --- Start-up and header -------------------------------------------------

// Chan-Range and Patch bytes of one track, as the header trace prints them
// (two hex digits, or eight for bytes of 0x80 and up).
struct TrackBytes {
    int track;
    std::string_view chanRange;
    std::string_view patch;
};

// The size line (an SEVENT is 32 bytes with 64-bit pointers) and the header
// trace of all 15 tracks; tracks not given have both bytes 0.
inline std::string Opening(std::initializer_list<TrackBytes> tracks) {
    std::string text = Line("Size of SEVENT = 32");
    text += Line("xxxxxxxxxxxxxxxx GetSongParametersxxxxxxxxxxxxx");
    for (int t = 0; t < 15; ++t) {
        std::string_view chanRange = "00";
        std::string_view patch = "00";
        for (const TrackBytes& given : tracks) {
            if (given.track == t) {
                chanRange = given.chanRange;
                patch = given.patch;
            }
        }
        text += "Chan-Range " + std::string(chanRange) + "   Patch " + std::string(patch) + "\n";
    }
    return text;
}

// --- Parse and listing ---------------------------------------------------

// The parse banners with the tempo lines the parser prints between them.
inline std::string Parse(std::string_view title, std::initializer_list<int> tempoBytes = {}) {
    std::string text = "******************** PARSE " + std::string(title) + " *************************\n";
    for (int tempo : tempoBytes) text += "Tempo = " + Num(tempo) + "\n";
    text += "******************** PARSE " + std::string(title) + " DONE *************************\n";
    return text;
}

// The listing of the given event lines, followed by the "Song->" line.
inline std::string Listing(std::string_view title, std::initializer_list<std::string> events) {
    std::string text = "---------------- Print " + std::string(title) + " ------------------\n";
    for (const std::string& event : events) text += event;
    return text + "Song->" + std::string(title) + "\n";
}

// One NOTE line of the listing.
inline std::string NoteLine(std::string_view name, std::string_view duration, int track, int tb, int te, int r) {
    return "NOTE=" + std::string(name) + "  Dur=" + std::string(duration) + " Track = " + Num(track) +
           " TB:" + Num(tb) + " TE:" + Num(te) + " R:" + Num(r) + "\n";
}

inline std::string SongEndLine() { return Line("*******SONG END********"); }

// --- Group processing and note traces ------------------------------------

inline std::string Banner(int group) { return "--------" + Num(group) + "---------\n"; }

inline std::string NoteOn(std::string_view name, int track, int velocity) {
    return ">>>>NOTE ON " + std::string(name) + ":Track:" + Num(track) + "@Vel" + Num(velocity) + "\n";
}

inline std::string NoteOff(std::string_view name, int track, int slot, int active) {
    return "<<<<NOTE OFF " + std::string(name) + ":Track:" + Num(track) + ":EVent=" + Num(slot) +
           "  Active=" + Num(active) + "\n";
}

inline std::string Search(std::string_view name, int channel) {
    return "SEARCH FOR:" + std::string(name) + " on Track " + Num(channel) + "\n";
}

inline std::string Candidate(int slot, std::string_view name, std::string_view restOrNote, int channel) {
    return "Canidate-" + Num(slot) + ":" + std::string(name) + "-" + std::string(restOrNote) +
           " Track:" + Num(channel) + "\n";
}

inline std::string Error(int code) { return "Error:" + Num(code) + "\n"; }

// --- Slot dump ------------------------------------------------------------

inline std::string Slot(int index, std::string_view name, int channel, std::string_view duration, int remaining,
                        int tb = 0, int te = 0, int r = 0) {
    const std::string pad = index < 10 ? " " : "";
    return pad + Num(index) + "::Note=" + std::string(name) + "::" + Num(channel) + "  " + std::string(duration) +
           " Dur=" + Num(remaining) + " TB=" + Num(tb) + "  TE=" + Num(te) + " R=" + Num(r) + "\n";
}

// The slot dump: the slot lines between two frame lines, or "No Events"
// when no slot line is given (no slot in use).
inline std::string Dump(const std::vector<std::string>& slots = {}) {
    const std::string frame = Line("xxxxxxxxxxxxxxxxxxxxxxxxxxxx");
    std::string text = frame;
    if (slots.empty()) text += Line("No Events");
    for (const std::string& slot : slots) text += slot;
    return text + frame;
}

// --- Tick engine -----------------------------------------------------------

inline std::string PlayBanner() { return Line("************************Play Song*******************************"); }

inline std::string Ticks(int ticks) { return "******** Ticks = " + Num(ticks) + " ********\n"; }

// Ticks lines of consecutive quiet ticks: the timer goes from `first` down to
// `last`, both included.
inline std::string TickRun(int first, int last) {
    std::string text;
    for (int ticks = first; ticks >= last; --ticks) text += Ticks(ticks);
    return text;
}

inline std::string EventAdded() { return Line("-------------Event Added----------"); }
inline std::string EventAddedByTie() { return Line("-------------Event Added When Note Dur -> 0 ----------"); }

// The line of the tick that ends the song cleanly.
inline std::string SongOver(int noteOnOff) { return "NoteOnOff = " + Num(noteOnOff) + "\n"; }

// The line printed before the song-end stop with slots still counted.
inline std::string HeldStop(int noteOnOff, int active) {
    return "<<<<NoteOnOff=" + Num(noteOnOff) + "  Active=" + Num(active) + "\n";
}

// --- Final report ----------------------------------------------------------

struct TrackRow {
    int track;
    std::string_view name;
    int channel;
    int patch;
    int octave;
    int octaveShift;
    bool enabled;
};

// The Stop Song banner, the 15-line track table (tracks not given come from
// an all-zero header: channel 15, everything else 0, off), the empty line
// after it and the error count.
inline std::string Report(std::initializer_list<TrackRow> rows, int errors) {
    std::string text = Line("++++++++++++++++++++++Stop Song******************************");
    for (int t = 0; t < 15; ++t) {
        TrackRow row{t, "", 15, 0, 0, 0, false};
        for (const TrackRow& given : rows) {
            if (given.track == t) row = given;
        }
        const std::string index = (t < 10 ? " " : "") + Num(t);
        const std::string name = std::string(20 - row.name.size(), ' ') + std::string(row.name);
        text += index + "->" + name + ":CH[" + Num(row.channel) + "]:#" + Num(row.patch) +
                " OCT=" + Num(row.octave) + " OCTn=" + Num(row.octaveShift) + ":" + (row.enabled ? "ON" : "OFF") +
                "\n";
    }
    return text + "\n" + "ERRORS = " + Num(errors) + "\n";
}

}  // namespace expected
