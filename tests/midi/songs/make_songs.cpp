// Writes the songs the MIDI export is compared on into the folder given:
// each is built around a case the engine plays in its own way, and one is a
// long generated song. A tied note that runs out applies the next groups
// without loading the group timer: that is how notes come to overlap here.
//   midi_test_songs FOLDER
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "song_generator.h"
#include "song_writer.h"

namespace {

constexpr int k32nd = 3, k16thTriplet = 4, k16th = 6, kEighth = 9, kQuarter = 12, kHalf = 15, kWhole = 18;
constexpr int kC4 = 48, kE4 = 52, kA4 = 57, kC5 = 60, kG5 = 67, kSnare = 38;
constexpr uint32_t kTieBegin = SongWriter::kTieBegin, kTieEnd = SongWriter::kTieEnd;

// Lead and Echo share channel 0; Drums are on the percussion channel.
SongWriter Band(const char* title) {
    SongWriter song;
    song.Title(title).Track(0, "Lead", 0, 3, 0).Track(1, "Echo", 0, 3, 0).Track(2, "Bass", 1, 3, 32);
    song.Track(3, "Drums", 9, 3, 0).Tempo(120).Loudness(80).EndGroup();
    return song;
}

// A tie over two continuations; and a note traced off, then continued by a
// tie before its slot is given back (so traced off twice).
SongWriter Ties() {
    SongWriter song = Band("ties");
    song.Note(0, kQuarter, kC5, kTieBegin).Note(2, kWhole, kC4).EndGroup();
    song.Note(0, kQuarter, kC5, kTieEnd | kTieBegin).Note(3, kEighth, kSnare).EndGroup();
    song.Note(0, kQuarter, kC5, kTieEnd).Note(3, kEighth, kSnare).EndGroup();
    song.Note(0, k32nd, kG5, kTieBegin).Note(1, k16thTriplet, kE4).EndGroup();
    song.Note(0, kQuarter, kG5, kTieEnd).Note(1, kQuarter, kE4, kTieEnd).Note(3, kEighth, kSnare).EndGroup();
    return song.Rest(3, kHalf).EndGroup().EndSong();  // the end comes once every note has ended
}

// A tie never continued: error 1 as it runs out, then error 3 forces it off.
SongWriter Error3() {
    SongWriter song = Band("error 3");
    song.Note(0, kQuarter, kC5, kTieBegin).Note(2, kQuarter, kC4).EndGroup();
    for (int bar = 0; bar < 9; ++bar) song.MeasureBar().Note(2, kQuarter, kC4 + bar).EndGroup();
    return song.EndSong();
}

// Error 3 forces Lead's C5 off in tick 348, as Echo strikes C5 on the same
// channel: one note ends and the next starts, no note is struck again.
SongWriter ForcedOff() {
    SongWriter song = Band("forced off");
    song.Note(0, kQuarter, kC5, kTieBegin).Note(2, kQuarter, kC4).EndGroup();
    for (const int duration : {kHalf, kHalf, kHalf, k16th, k32nd}) song.Note(2, duration, kC4).EndGroup();
    return song.Note(1, kQuarter, kC5).Note(2, kQuarter, kA4).EndGroup().EndSong();
}

// Seventeen notes at once: the last finds no slot (error 5).
SongWriter Error5() {
    SongWriter song = Band("error 5");
    for (int i = 0; i < 17; ++i) song.Note(i % 3, kQuarter, kC4 + i);
    return song.EndGroup().Note(2, kQuarter, kC4).EndGroup().EndSong();
}

// The song end comes while a whole note still sounds: a fatal stop.
SongWriter FatalStop() {
    SongWriter song = Band("fatal stop");
    song.Note(0, kQuarter, kC5, kTieBegin).Note(2, kWhole, kC4).EndGroup();
    return song.Note(0, kQuarter, kC5, kTieEnd).EndGroup().EndSong();
}

// Loudness 0 and below: plain notes are silent, accented ones play at 20;
// loudness 1 is the quietest that sounds.
SongWriter Velocity0() {
    SongWriter song = Band("velocity 0");
    song.Loudness(0).Note(0, kQuarter, kC5).Note(2, kQuarter, kC4, SongWriter::kAccent).EndGroup();
    song.Loudness(-30).Note(0, kQuarter, kC5).EndGroup();
    song.Loudness(1).Note(0, kQuarter, kC5).EndGroup();
    return song.Loudness(100).Note(0, kQuarter, kC5).EndGroup().EndSong();
}

// A pitch struck again while it sounds: on its own track, and on another
// track of the same channel.
SongWriter Restruck() {
    SongWriter song = Band("restruck");
    song.Note(0, kQuarter, kE4, kTieBegin).Note(0, kWhole, kC5).Note(1, kWhole, kG5).EndGroup();
    song.Note(0, kQuarter, kE4, kTieEnd | kTieBegin).Note(0, kQuarter, kC5).EndGroup();
    return song.Note(0, kQuarter, kE4, kTieEnd).Note(0, kQuarter, kG5).EndGroup().EndSong();
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: midi_test_songs FOLDER\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    const bool written =
        Ties().WriteFile(folder + "ties.sng") && Error3().WriteFile(folder + "error3.sng") &&
        ForcedOff().WriteFile(folder + "forced_off.sng") &&
        Error5().WriteFile(folder + "error5.sng") && FatalStop().WriteFile(folder + "fatal_stop.sng") &&
        Velocity0().WriteFile(folder + "velocity0.sng") && Restruck().WriteFile(folder + "restruck.sng") &&
        WriteBytes(folder + "generated.sng", GenerateSong({.events = 3000, .seed = 1}).bytes);
    if (!written) std::fprintf(stderr, "midi_test_songs: cannot write into %s\n", argv[1]);
    return written ? 0 : 1;
}
