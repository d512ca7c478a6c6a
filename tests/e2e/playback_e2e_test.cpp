// Whole runs of songsim on small well-formed songs: every line of the play
// phase is worked out tick by tick from the timing rules of the tick engine.
//
// Every song here has one track, "Piano" on track 0: channel 0, octave code 3,
// patch 0, enabled (Chan-Range byte 0x31). No loudness event is given unless
// a test says so, so notes start with velocity 0.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "e2e/expected_output.h"
#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

using namespace expected;

constexpr uint32_t kTieBegin = SongWriter::kTieBegin;
constexpr uint32_t kTieEnd = SongWriter::kTieEnd;

// Duration codes used below.
constexpr int k32ndTrip = 1;  // 4 ticks
constexpr int kZeroA = 0;     // "NA", 0 ticks
constexpr int kEighth = 9;    // 24 ticks
constexpr int kQuarter = 12;  // 48 ticks
constexpr int kHalf = 15;     // 96 ticks
constexpr int kWhole = 18;    // 192 ticks
constexpr int kZeroB = 19;    // "NA", 0 ticks
constexpr int kDottedWhole = 20;  // 288 ticks

constexpr int C5 = 60, D5 = 62, E5 = 64, G5 = 67;

SongWriter OneTrackSong(std::string_view title) {
    SongWriter song;
    song.Title(title).Track(0, "Piano", 0, 3, 0);
    return song;
}

std::string OneTrackOpening(std::string_view title) { return Opening({{0, "31", "00"}}) + Parse(title); }

std::string OneTrackReport(int errors) { return Report({{0, "Piano", 0, 0, 3, 0, true}}, errors); }

void ExpectRun(const SongsimRun& run, const std::string& out, int status) {
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, status);
}

// The tick in which the song-end group is applied with no slot left: the
// timer has run out, the group banner, and the clean end.
std::string CleanSongEnd(int banner) {
    return Dump() + Banner(banner) + EventAdded() + Dump() + SongOver(0) + Ticks(0);
}

// --- Note lengths ------------------------------------------------------------

TEST(NoteTiming, LoneQuarterNoteIsTracedOffInTick45AndGivenBackInTick47) {
    // 01 0C 3C 00  quarter C5 on track 0
    // FF           song end
    const auto run = RunSongsimOn(OneTrackSong("Lone").Note(0, kQuarter, C5).EndGroup().EndSong().Bytes());

    const std::string want =
        OneTrackOpening("Lone") +
        Listing("Lone", {NoteLine("C5", "Quarter", 0, 0, 0, 0), SongEndLine()}) +
        // Priming applies group 1: the timer and the note's count are 47.
        Banner(1) + NoteOn("C5", 0, 0) + Dump({Slot(0, "C5", 0, "Quarter", 47)}) + PlayBanner() +
        TickRun(46, 3) +                                // ticks 1..44
        NoteOff("C5", 0, 0, 1) + Ticks(2) +             // tick 45: remaining 2
        Ticks(1) +                                      // tick 46
        CleanSongEnd(3) +                               // tick 47: slot given back, timer 0
        OneTrackReport(0);
    ExpectRun(run, want, 0);
}

TEST(NoteTiming, FourTickNotesAreTracedOffInTheFirstTickAndTheirSlotIsTakenAgainInTheThird) {
    // 01 01 3C 00  32nd triplet C5 (4 ticks)
    // 01 01 3E 00  32nd triplet D5
    // FF
    const auto run = RunSongsimOn(OneTrackSong("Short")
                                      .Note(0, k32ndTrip, C5)
                                      .EndGroup()
                                      .Note(0, k32ndTrip, D5)
                                      .EndGroup()
                                      .EndSong()
                                      .Bytes());

    const std::string want =
        OneTrackOpening("Short") +
        Listing("Short", {NoteLine("C5", "32nd Trip", 0, 0, 0, 0), NoteLine("D5", "32nd Trip", 0, 0, 0, 0),
                          SongEndLine()}) +
        Banner(1) + NoteOn("C5", 0, 0) + Dump({Slot(0, "C5", 0, "32nd Trip", 3)}) + PlayBanner() +
        NoteOff("C5", 0, 0, 1) + Ticks(2) +  // tick 1
        Ticks(1) +                           // tick 2
        // Tick 3: C5 is given back before group 2 is applied, so D5 takes slot 0.
        Dump() + Banner(3) + NoteOn("D5", 0, 0) + EventAdded() + Dump({Slot(0, "D5", 0, "32nd Trip", 3)}) +
        Ticks(3) +
        NoteOff("D5", 0, 0, 1) + Ticks(2) +  // tick 4
        Ticks(1) +                           // tick 5
        CleanSongEnd(5) +                    // tick 6
        OneTrackReport(0);
    ExpectRun(run, want, 0);
}

TEST(NoteTiming, RestHoldsItsSlotAsLongAsANoteWithoutAnyTrace) {
    // 11 09 00 00  eighth rest on track 0 (24 ticks)
    // 01 01 3C 00  32nd triplet C5
    // FF
    const auto run = RunSongsimOn(OneTrackSong("Rest")
                                      .Rest(0, kEighth)
                                      .EndGroup()
                                      .Note(0, k32ndTrip, C5)
                                      .EndGroup()
                                      .EndSong()
                                      .Bytes());

    const std::string want =
        OneTrackOpening("Rest") +
        Listing("Rest", {NoteLine("C0", "Eighth", 0, 0, 0, 1), NoteLine("C5", "32nd Trip", 0, 0, 0, 0),
                         SongEndLine()}) +
        // The rest takes slot 0 silently.
        Banner(1) + Dump({Slot(0, "C0", 0, "Eighth", 23, 0, 0, 1)}) + PlayBanner() +
        TickRun(22, 1) +  // ticks 1..22, no NOTE OFF in tick 21
        // Tick 23: the rest is given back and the next group is due.
        Dump() + Banner(3) + NoteOn("C5", 0, 0) + EventAdded() + Dump({Slot(0, "C5", 0, "32nd Trip", 3)}) +
        Ticks(3) +
        NoteOff("C5", 0, 0, 1) + Ticks(2) + Ticks(1) + CleanSongEnd(5) + OneTrackReport(0);
    ExpectRun(run, want, 0);
}

TEST(NoteTiming, QuarterAndHalfInOneGroupWaitForTheHalfBeforeTheNextGroup) {
    // 01 0C 3C  quarter C5
    // 01 0F 40  half E5
    // 00 FF
    const auto run =
        RunSongsimOn(OneTrackSong("Pair").Note(0, kQuarter, C5).Note(0, kHalf, E5).EndGroup().EndSong().Bytes());

    const std::string want =
        OneTrackOpening("Pair") +
        Listing("Pair", {NoteLine("C5", "Quarter", 0, 0, 0, 0), NoteLine("E5", "Half", 0, 0, 0, 0),
                         SongEndLine()}) +
        // The timer takes the longer note: 95.
        Banner(1) + NoteOn("C5", 0, 0) + NoteOn("E5", 0, 0) +
        Dump({Slot(0, "C5", 0, "Quarter", 47), Slot(1, "E5", 0, "Half", 95)}) + PlayBanner() +
        TickRun(94, 51) +                      // ticks 1..44
        NoteOff("C5", 0, 0, 2) + Ticks(50) +   // tick 45
        TickRun(49, 3) +                       // ticks 46..92; C5 given back in tick 47 (timer 48)
        NoteOff("E5", 0, 1, 1) + Ticks(2) +    // tick 93: only E5 is left
        Ticks(1) + CleanSongEnd(3) +           // ticks 94 and 95
        OneTrackReport(0);
    ExpectRun(run, want, 0);
}

// --- Ties and the song end ---------------------------------------------------

// The first 47 ticks of the tie songs: C5 tied into group 2 is neither traced
// off nor given back, and in tick 47 it pulls in group 2 (its continuation,
// which reloads the timer) and the group after it, whose first new note is
// `nextNote`.
std::string TiedIntoGroupTwo(std::string_view nextNote) {
    std::string text = Banner(1) + NoteOn("C5", 0, 0) + Dump({Slot(0, "C5", 0, "Quarter", 47, 1, 0, 0)}) +
                       PlayBanner() + TickRun(46, 1) +
                       // Tick 47: the tied note ran out.
                       Dump({Slot(0, "C5", 0, "Quarter", 0, 1, 0, 0)}) + Banner(3) + Search("C5", 0) +
                       Candidate(0, "C5", "N", 0) + Banner(5);
    if (!nextNote.empty()) text += NoteOn(nextNote, 0, 0);
    return text + EventAddedByTie();
}

TEST(Ties, TiedQuarterContinuesInItsSlotAndTheSongEndsCleanly) {
    // 41 0C 3C 00  quarter C5, tie begin
    // 21 0C 3C 00  quarter C5, tie end
    // 01 0C 40 00  quarter E5
    // FF
    const auto run = RunSongsimOn(OneTrackSong("Tie")
                                      .Note(0, kQuarter, C5, kTieBegin)
                                      .EndGroup()
                                      .Note(0, kQuarter, C5, kTieEnd)
                                      .EndGroup()
                                      .Note(0, kQuarter, E5)
                                      .EndGroup()
                                      .EndSong()
                                      .Bytes());

    const std::string want =
        OneTrackOpening("Tie") +
        Listing("Tie", {NoteLine("C5", "Quarter", 0, 1, 0, 0), NoteLine("C5", "Quarter", 0, 0, 1, 0),
                        NoteLine("E5", "Quarter", 0, 0, 0, 0), SongEndLine()}) +
        TiedIntoGroupTwo("E5") +
        Dump({Slot(0, "C5", 0, "Quarter", 47, 0, 1, 0), Slot(1, "E5", 0, "Quarter", 47)}) + Ticks(47) +
        TickRun(46, 3) +                                             // ticks 48..91
        NoteOff("C5", 0, 0, 2) + NoteOff("E5", 0, 1, 2) + Ticks(2) +  // tick 92
        Ticks(1) + CleanSongEnd(7) +                                 // ticks 93 and 94
        OneTrackReport(0);
    ExpectRun(run, want, 0);
}

TEST(Ties, SongEndAppliedWithTheContinuationStopsOnTheNextTick) {
    // 41 0C 3C 00  quarter C5, tie begin
    // 21 0C 3C 00  quarter C5, tie end
    // FF
    const auto run = RunSongsimOn(OneTrackSong("Tie")
                                      .Note(0, kQuarter, C5, kTieBegin)
                                      .EndGroup()
                                      .Note(0, kQuarter, C5, kTieEnd)
                                      .EndGroup()
                                      .EndSong()
                                      .Bytes());

    const std::string want =
        OneTrackOpening("Tie") +
        Listing("Tie", {NoteLine("C5", "Quarter", 0, 1, 0, 0), NoteLine("C5", "Quarter", 0, 0, 1, 0),
                        SongEndLine()}) +
        TiedIntoGroupTwo("") + Dump({Slot(0, "C5", 0, "Quarter", 47, 0, 1, 0)}) + Ticks(47) +
        // Tick 48: one more countdown, then the song-end stop.
        Dump({Slot(0, "C5", 0, "Quarter", 46, 0, 1, 0)}) + HeldStop(1, 1);
    ExpectRun(run, want, 1);
}

TEST(Ties, SongEndAppliedWhileAHalfNoteSoundsStopsOnTheNextTick) {
    // 41 0C 3C 00  quarter C5, tie begin
    // 21 0C 3C 00  quarter C5, tie end: the timer is 47 again
    // 01 0F 40 00  half E5, applied in the same tick: still 95 to go
    // FF           due when C5 is given back, while E5 sounds
    const auto run = RunSongsimOn(OneTrackSong("Tail")
                                      .Note(0, kQuarter, C5, kTieBegin)
                                      .EndGroup()
                                      .Note(0, kQuarter, C5, kTieEnd)
                                      .EndGroup()
                                      .Note(0, kHalf, E5)
                                      .EndGroup()
                                      .EndSong()
                                      .Bytes());

    const std::string want =
        OneTrackOpening("Tail") +
        Listing("Tail", {NoteLine("C5", "Quarter", 0, 1, 0, 0), NoteLine("C5", "Quarter", 0, 0, 1, 0),
                         NoteLine("E5", "Half", 0, 0, 0, 0), SongEndLine()}) +
        TiedIntoGroupTwo("E5") +
        Dump({Slot(0, "C5", 0, "Quarter", 47, 0, 1, 0), Slot(1, "E5", 0, "Half", 95)}) + Ticks(47) +
        TickRun(46, 3) +                       // ticks 48..91
        NoteOff("C5", 0, 0, 2) + Ticks(2) +    // tick 92
        Ticks(1) +                             // tick 93
        // Tick 94: C5 is given back, the timer is 0 and the song end is applied.
        Dump({Slot(1, "E5", 0, "Half", 48)}) + Banner(7) + EventAdded() + Dump({Slot(1, "E5", 0, "Half", 48)}) +
        Ticks(0) +
        // Tick 95: E5 counts down once more, then the song-end stop.
        Dump({Slot(1, "E5", 0, "Half", 47)}) + HeldStop(1, 1);
    ExpectRun(run, want, 1);
}

TEST(SongEnd, SongWithoutNotesStopsOnTheFirstTick) {
    // 82 00  measure bar
    // 00     an empty group: not listed, not played
    // FF
    const auto run = RunSongsimOn(OneTrackSong("Bars").MeasureBar().EndGroup().EndGroup().EndSong().Bytes());

    const std::string want =
        OneTrackOpening("Bars") + Listing("Bars", {Line("Measure Bar 1"), SongEndLine()}) +
        // Priming applies both groups; bars count on from the listing's count.
        Banner(1) + Line("Measure Bar 2") + Banner(3) + Dump() + PlayBanner() +
        // Tick 1: the song-end stop.
        Dump() + HeldStop(0, 0);
    ExpectRun(run, want, 1);
}

// --- Errors ------------------------------------------------------------------

TEST(PlaybackErrors, ZeroTickNotesAreForcedOffAfter300TicksAndTheTimerRunsOut) {
    // 01 00 3C  C5 of duration code 0 (0 ticks)
    // 01 13 3E  D5 of duration code 19 (0 ticks)
    // 00 FF
    const auto run = RunSongsimOn(
        OneTrackSong("Zero").Note(0, kZeroA, C5).Note(0, kZeroB, D5).EndGroup().EndSong().Bytes());

    const std::string want =
        OneTrackOpening("Zero") +
        Listing("Zero", {NoteLine("C5", "NA", 0, 0, 0, 0), NoteLine("D5", "NA", 0, 0, 0, 0), SongEndLine()}) +
        // Both start at -1; the timer is 0 and never comes back to 0.
        Banner(1) + NoteOn("C5", 0, 0) + NoteOn("D5", 0, 0) +
        Dump({Slot(0, "C5", 0, "NA", -1), Slot(1, "D5", 0, "NA", -1)}) + PlayBanner() +
        TickRun(-1, -299) +
        // Tick 300: both reach -301.
        Error(3) + NoteOff("C5", 0, 0, 2) + Error(3) + NoteOff("D5", 0, 1, 1) + Ticks(-300) +
        // The song end is never applied; the timer limit stops the run.
        TickRun(-301, -1001);
    ExpectRun(run, want, 1);
}

TEST(PlaybackErrors, MissingTieContinuationRaisesErrors2Then1Then3AndPlaybackGoesOn) {
    // 41 0C 3C 00  quarter C5, tie begin
    // 21 0C 3E 00  quarter D5, tie end: nothing to continue
    // 01 14 40 00  dotted whole E5 (288 ticks)
    // 01 12 43 00  whole G5 (192 ticks)
    // FF
    const auto run = RunSongsimOn(OneTrackSong("Broken")
                                      .Note(0, kQuarter, C5, kTieBegin)
                                      .EndGroup()
                                      .Note(0, kQuarter, D5, kTieEnd)
                                      .EndGroup()
                                      .Note(0, kDottedWhole, E5)
                                      .EndGroup()
                                      .Note(0, kWhole, G5)
                                      .EndGroup()
                                      .EndSong()
                                      .Bytes());

    // The search scans all 16 slots; slots 1..15 were never used and read as
    // note 0 on channel 0.
    std::string search = Search("D5", 0) + Candidate(0, "C5", "N", 0);
    for (int slot = 1; slot < 16; ++slot) search += Candidate(slot, "C0", "N", 0);

    const std::string held = Slot(0, "C5", 0, "Quarter", -287, 1, 0, 0);
    const std::string want =
        OneTrackOpening("Broken") +
        Listing("Broken", {NoteLine("C5", "Quarter", 0, 1, 0, 0), NoteLine("D5", "Quarter", 0, 0, 1, 0),
                           NoteLine("E5", "Dotted Whole", 0, 0, 0, 0), NoteLine("G5", "Whole", 0, 0, 0, 0),
                           SongEndLine()}) +
        Banner(1) + NoteOn("C5", 0, 0) + Dump({Slot(0, "C5", 0, "Quarter", 47, 1, 0, 0)}) + PlayBanner() +
        TickRun(46, 1) +
        // Tick 47: C5 runs out tied; group 2 fails (timer 0), group 3 loads it.
        Dump({Slot(0, "C5", 0, "Quarter", 0, 1, 0, 0)}) + Banner(3) + search + Error(2) + Banner(5) +
        NoteOn("E5", 0, 0) + EventAddedByTie() +
        Dump({Slot(0, "C5", 0, "Quarter", 0, 1, 0, 0), Slot(1, "E5", 0, "Dotted Whole", 287)}) + Ticks(287) +
        // Tick 48: error 1 on the tied slot; the dump comes before slot 1 counts down.
        Error(1) + Dump({Slot(0, "C5", 0, "Quarter", -1, 1, 0, 0), Slot(1, "E5", 0, "Dotted Whole", 287)}) +
        Ticks(286) +
        TickRun(285, 3) +                      // ticks 49..331
        NoteOff("E5", 0, 1, 2) + Ticks(2) +    // tick 332
        Ticks(1) +                             // tick 333
        // Tick 334: E5 is given back and group 4 takes its slot.
        Dump({held}) + Banner(7) + NoteOn("G5", 0, 0) + EventAdded() +
        Dump({held, Slot(1, "G5", 0, "Whole", 191)}) + Ticks(191) +
        TickRun(190, 178) +                                // ticks 335..347
        Error(3) + NoteOff("C5", 0, 0, 2) + Ticks(177) +   // tick 348: C5 at -301
        TickRun(176, 3) +                                  // ticks 349..522
        NoteOff("G5", 0, 1, 1) + Ticks(2) +                // tick 523
        Ticks(1) + CleanSongEnd(9) +                       // ticks 524 and 525
        OneTrackReport(3);
    ExpectRun(run, want, 0);
}

TEST(PlaybackErrors, NotesOnTrackMinusOneAreReportedAndNotPlayed) {
    // 40 0C 3E  quarter D5, tie begin, track nibble 0 (track -1)
    // 20 0C 3E  quarter D5, tie end, track -1
    // 01 0C 3C  quarter C5 on track 0
    // 00 FF
    const auto run = RunSongsimOn(OneTrackSong("Nowhere")
                                      .Raw({0x40, 0x0C, 0x3E})
                                      .Raw({0x20, 0x0C, 0x3E})
                                      .Note(0, kQuarter, C5)
                                      .EndGroup()
                                      .EndSong()
                                      .Bytes());

    const std::string want =
        OneTrackOpening("Nowhere") +
        Listing("Nowhere", {NoteLine("D5", "Quarter", -1, 1, 0, 0), NoteLine("D5", "Quarter", -1, 0, 1, 0),
                            NoteLine("C5", "Quarter", 0, 0, 0, 0), SongEndLine()}) +
        // Neither takes a slot nor searches one; C5 plays as if alone.
        Banner(1) + Error(4) + Error(4) + NoteOn("C5", 0, 0) + Dump({Slot(0, "C5", 0, "Quarter", 47)}) +
        PlayBanner() + TickRun(46, 3) + NoteOff("C5", 0, 0, 1) + TickRun(2, 1) + CleanSongEnd(3) +
        OneTrackReport(2);
    ExpectRun(run, want, 0);
}

TEST(PlaybackErrors, SeventeenthNoteOfAGroupIsDroppedAndPlaybackGoesOn) {
    // 17 x (01 0C nn)  quarters C5 (60) up to E6 (76), then 00 FF
    SongWriter writer = OneTrackSong("Crowd");
    for (int note = 60; note <= 76; ++note) writer.Note(0, kQuarter, note);
    const auto run = RunSongsimOn(writer.EndGroup().EndSong().Bytes());

    const std::vector<std::string> names = {"C5",  "C#5", "D5",  "D#5", "E5",  "F5",  "F#5", "G5", "G#5",
                                            "A5",  "A#5", "B5",  "C6",  "C#6", "D6",  "D#6", "E6"};
    std::string listing = "---------------- Print Crowd ------------------\n";
    for (const std::string& name : names) listing += NoteLine(name, "Quarter", 0, 0, 0, 0);
    listing += SongEndLine() + "Song->Crowd\n";

    std::string noteOns, offs;
    std::vector<std::string> slots;
    for (int i = 0; i < 16; ++i) {
        noteOns += NoteOn(names[i], 0, 0);
        slots.push_back(Slot(i, names[i], 0, "Quarter", 47));
        offs += NoteOff(names[i], 0, i, 16);
    }

    const std::string want = OneTrackOpening("Crowd") + listing + Banner(1) + noteOns + Error(5) + Dump(slots) +
                             PlayBanner() + TickRun(46, 3) + offs + TickRun(2, 1) + CleanSongEnd(3) +
                             OneTrackReport(1);
    ExpectRun(run, want, 0);
}

}  // namespace
