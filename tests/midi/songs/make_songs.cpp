// Writes the songs the MIDI export is compared on, each built around a case
// the engine plays in its own way, into the folder given:
//   midi_test_songs FOLDER
// A tied-note group that runs out applies the next groups without loading
// the group timer, which is how notes come to overlap groups here.
#include <cstdio>
#include <string>

#include "song_writer.h"

namespace {

constexpr int k32nd = 3;      // 6 ticks
constexpr int k16thTrip = 4;  // 8 ticks
constexpr int kEighth = 9;    // 24 ticks
constexpr int kQuarter = 12;  // 48 ticks
constexpr int kHalf = 15;     // 96 ticks
constexpr int kWhole = 18;    // 192 ticks
constexpr int kC4 = 48, kE4 = 52, kC5 = 60, kG5 = 67, kSnare = 38;
constexpr uint32_t kTieBegin = SongWriter::kTieBegin;
constexpr uint32_t kTieEnd = SongWriter::kTieEnd;

// Lead and Echo share channel 0; Drums are on General MIDI's percussion channel.
SongWriter Band(const char* title) {
    SongWriter song;
    song.Title(title)
        .Track(0, "Lead", 0, 3, 0)
        .Track(1, "Echo", 0, 3, 0)
        .Track(2, "Bass", 1, 3, 32)
        .Track(3, "Drums", 9, 3, 0);
    song.Tempo(120).Loudness(80).EndGroup();
    return song;
}

// A tie over two continuations; and a note traced off, then continued by a
// tie in the two ticks before its slot is given back (traced off twice).
SongWriter Ties() {
    SongWriter song = Band("ties");
    song.Note(0, kQuarter, kC5, kTieBegin).Note(2, kWhole, kC4).EndGroup();
    song.Note(0, kQuarter, kC5, kTieEnd | kTieBegin).Note(3, kEighth, kSnare).EndGroup();
    song.Note(0, kQuarter, kC5, kTieEnd).Note(3, kEighth, kSnare).EndGroup();
    song.Note(0, k32nd, kG5, kTieBegin).Note(1, k16thTrip, kE4).EndGroup();
    song.Note(0, kQuarter, kG5, kTieEnd).Note(1, kQuarter, kE4, kTieEnd).Note(3, kEighth, kSnare).EndGroup();
    song.Rest(3, kHalf).EndGroup();  // the song ends once every note has
    return song.EndSong();
}

// A tie never continued: error 1 as it runs out, then error 3 forces it off
// while the other tracks play on.
SongWriter Error3() {
    SongWriter song = Band("error 3");
    song.Note(0, kQuarter, kC5, kTieBegin).Note(2, kQuarter, kC4).EndGroup();
    for (int bar = 0; bar < 9; ++bar) song.MeasureBar().Note(2, kQuarter, kC4 + bar).EndGroup();
    return song.EndSong();
}

// Seventeen notes at once: the last finds no slot (error 5).
SongWriter Error5() {
    SongWriter song = Band("error 5");
    for (int i = 0; i < 17; ++i) song.Note(i % 3, kQuarter, kC4 + i);
    song.EndGroup().Note(2, kQuarter, kC4).EndGroup();
    return song.EndSong();
}

// The song end comes while a whole note still sounds: a fatal stop.
SongWriter FatalStop() {
    SongWriter song = Band("fatal stop");
    song.Note(0, kQuarter, kC5, kTieBegin).Note(2, kWhole, kC4).EndGroup();
    song.Note(0, kQuarter, kC5, kTieEnd).EndGroup();
    return song.EndSong();
}

// Loudness 0: plain notes are silent, accented ones play at 20.
SongWriter Velocity0() {
    SongWriter song = Band("velocity 0");
    song.Loudness(0).Note(0, kQuarter, kC5).Note(2, kQuarter, kC4, SongWriter::kAccent).EndGroup();
    song.Loudness(-30).Note(0, kQuarter, kC5).EndGroup();
    song.Loudness(100).Note(0, kQuarter, kC5).EndGroup();
    return song.EndSong();
}

// A pitch struck again while it sounds: on its own track, and on another
// track of the same channel.
SongWriter Restruck() {
    SongWriter song = Band("restruck");
    song.Note(0, kQuarter, kE4, kTieBegin).Note(0, kWhole, kC5).Note(1, kWhole, kG5).EndGroup();
    song.Note(0, kQuarter, kE4, kTieEnd | kTieBegin).Note(0, kQuarter, kC5).EndGroup();
    song.Note(0, kQuarter, kE4, kTieEnd).Note(0, kQuarter, kG5).EndGroup();
    return song.EndSong();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: midi_test_songs FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const struct {
        const char* name;
        SongWriter song;
    } songs[] = {{"ties", Ties()},           {"error3", Error3()},       {"error5", Error5()},
                 {"fatal_stop", FatalStop()}, {"velocity0", Velocity0()}, {"restruck", Restruck()}};
    for (const auto& [name, song] : songs) {
        if (!song.WriteFile(folder + "/" + name + ".sng")) {
            std::fprintf(stderr, "midi_test_songs: cannot write %s/%s.sng\n", folder.c_str(), name);
            return 1;
        }
    }
    return 0;
}
