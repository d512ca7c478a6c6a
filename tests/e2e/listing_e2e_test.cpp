// A whole run of songsim on a song that uses every control code and a header
// with signed bytes: the header trace, the parse, the listing, the control
// traces of playback and the track table, line by line.
#include <gtest/gtest.h>

#include <string>

#include "e2e/expected_output.h"
#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

using namespace expected;

TEST(Listing, EveryControlCodeIsListedAndPlayedWithItsOwnTrace) {
    SongWriter writer;
    writer.Title("Every Code")
        .Track(0, "Bass", 0, 3, 48)                 // Chan-Range 31, Patch 30
        .Track(1, "Lead", 15, 2, 0x85)              // Chan-Range 20 (channel 15), Patch -123
        .Track(2, "Strings", 14, 5, 127, false)     // Chan-Range 5F, Patch 7F, off
        .Track(14, "ABCDEFGHIJ", 2, 4, 0xFF);       // Chan-Range 43, Patch -1, a full 10-byte name
    // Group 1, ended by 00.
    writer.KeySignature(1)                          // 80 00 01  C major
        .Tempo(120)                                 // 81 78     value 1875 / 240 = 7
        .TimeSignature(5)                           // 83 05     4/4
        .Loudness(100)                              // 84 00 64
        .MeasureBar()                               // 82
        .Note(0, 12, 60)                            // 01 0C 3C  quarter C5, track 0
        .Note(1, 12, 64, SongWriter::kAccent)       // 02 2C 40  quarter E5, track 1, accent
        .EndGroup();
    // Group 2, ended by the repeat end.
    writer.RepeatStart(2)                           // 85 02
        .MeasureBar()                               // 82
        .Tempo(0)                                   // 81 00     kept as 0, played as 120
        .Loudness(120)                              // 84 00 78
        .Note(14, 9, 67, SongWriter::kAccent)       // 0F 29 43  eighth G5, track 14, accent
        .RepeatEnd();                               // 86
    // Group 3, ended by the song end.
    writer.KeySignature(10)                         // 80 00 0A  B flat major
        .TimeSignature(7)                           // 83 07     6/8
        .MeasureBar()                               // 82
        .EndSong();                                 // FF
    const SongsimRun run = RunSongsimOn(writer.Bytes());

    const std::string want =
        Opening({{0, "31", "30"}, {1, "20", "ffffff85"}, {2, "5f", "7f"}, {14, "43", "ffffffff"}}) +
        Parse("Every Code", {120, 0}) +
        Listing("Every Code",
                {Line("KEY Signature:CMAJ"), Line("Tempo:7"), Line("Time Signature:5"), Line("Loudness:100"),
                 Line("Measure Bar 1"), NoteLine("C5", "Quarter", 0, 0, 0, 0),
                 NoteLine("E5", "Quarter", 1, 0, 0, 0), Line("Repeat START:2"), Line("Measure Bar 2"),
                 Line("Tempo:0"), Line("Loudness:120"), NoteLine("G5", "Eighth", 14, 0, 0, 0),
                 Line("REPEAT end:"), Line("KEY Signature:BbMAJ"), Line("Time Signature:7"),
                 Line("Measure Bar 3"), SongEndLine()}) +
        // Priming: the bar counter goes on from the listing's 3; tempo and
        // loudness print nothing; velocity is the loudness, +20 with accent.
        Banner(1) + Line("Key Sighnature CMAJ") + Line("Time Signature 4/4") + Line("Measure Bar 4") +
        NoteOn("C5", 0, 100) + NoteOn("E5", 1, 120) +
        Dump({Slot(0, "C5", 0, "Quarter", 47), Slot(1, "E5", 15, "Quarter", 47)}) + PlayBanner() +
        TickRun(46, 3) + NoteOff("C5", 0, 0, 2) + NoteOff("E5", 1, 1, 2) + TickRun(2, 1) +
        // Tick 47: group 2. Bars count from 1 again; the repeats print
        // nothing; 120 + 20 is held to 127.
        Dump() + Banner(3) + Line("Measure Bar 1") + NoteOn("G5", 14, 127) + EventAdded() +
        Dump({Slot(0, "G5", 2, "Eighth", 23)}) + Ticks(23) +
        TickRun(22, 3) + NoteOff("G5", 14, 0, 1) + TickRun(2, 1) +
        // Tick 70: group 3 ends the song.
        Dump() + Banner(5) + Line("Key Sighnature BbMAJ") + Line("Time Signature 6/8") + Line("Measure Bar 2") +
        EventAdded() + Dump() + SongOver(0) + Ticks(0) +
        Report({{0, "Bass", 0, 48, 3, 0, true},
                {1, "Lead", 15, -123, 2, -12, true},
                {2, "Strings", 14, 127, 5, 24, false},
                {14, "ABCDEFGHIJ", 2, -1, 4, 12, true}},
               0);
    EXPECT_EQ(run.out, want);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

}  // namespace
