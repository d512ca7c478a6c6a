// The importer's rules where the engine's limits bite: more notes at once
// than slots, more (MIDI track, channel) pairs than tracks, notes of one
// channel and pitch that overlap. Whatever it makes checks clean (the
// importer gives no song otherwise) and its counts add up.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "check/check.h"
#include "import/importer.h"
#include "song/codec.h"
#include "song/tables.h"

namespace {

MidiFileData Midi(std::vector<MidiNoteEvent> notes) {
    MidiFileData midi;
    midi.format = 1;
    midi.division = 96;
    midi.notesIn = static_cast<int64_t>(notes.size());
    std::stable_sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.on < b.on; });
    midi.notes = std::move(notes);
    for (const MidiNoteEvent& note : midi.notes)
        if (note.track >= midi.trackNames.size()) midi.trackNames.resize(note.track + 1u);
    return midi;
}

int64_t Count(const ImportResult& result, std::string_view kind) {
    return std::count_if(result.changes.begin(), result.changes.end(),
                         [&](const ImportChange& c) { return c.kind == kind; });
}

ImportResult Import(const MidiFileData& midi, int grid = 0) {
    std::vector<uint8_t> seenBeside;  // what work beside the judge is given: the whole song made
    ImportResult result = ImportMidi(midi, {.grid = grid,
                                            .fileName = "test.mid",
                                            .songName = "test.sng",
                                            .besideJudge = [&](std::span<const uint8_t> song) {
                                                seenBeside.assign(song.begin(), song.end());
                                            }});
    EXPECT_FALSE(result.song.empty()) << result.error;
    EXPECT_EQ(seenBeside, result.song);
    // Rests are written plain: no pitch, as the source language writes them.
    StreamReader reader(std::span(result.song).subspan(kHeaderSize));
    for (StreamEvent event; reader.Next(event);) {
        if (event.IsNote() && event.IsRest()) {
            EXPECT_EQ(event.Pitch(), 0);
        }
    }
    EXPECT_EQ(result.notesIn - result.notesOut, Count(result, "dropped"));
    // A change of the conductor's is of no track and no note.
    for (const ImportChange& c : result.changes)
        if (c.kind == "tempo" || c.kind == "key" || c.kind == "time") {
            EXPECT_TRUE(c.track == -1 && c.note == -1) << c.kind << " " << c.detail;
        }
    EXPECT_EQ(CheckSongImage(result.song, "test.sng").verdict, Verdict::Clean);
    return result;
}

TEST(Importer, KeepsTheSixteenNotesMostHeard) {
  // The crowd at the start, and later.
  for (const int64_t start : {0, 192})
  for (const bool rising : {true, false}) {  // the velocities rise with the pitch, or fall
    std::vector<MidiNoteEvent> notes;
    // 30 notes struck together, the longer ones kept: 15, since where the
    // shortest end the held ones go on beside a rest. Then a chord of 16.
    for (int i = 0; i < 30; ++i)
        notes.push_back({.on = start, .off = start + 96 * (1 + i % 4), .channel = 0, .pitch = static_cast<uint8_t>(40 + i),
                         .velocity = static_cast<uint8_t>(rising ? 30 + i : 60 - i)});
    for (int i = 0; i < 16; ++i)
        notes.push_back({.on = 960, .off = 960 + 96 * (i == 0 ? 8 : 1), .channel = 1,
                         .pitch = static_cast<uint8_t>(50 + i), .velocity = 100});
    const ImportResult result = Import(Midi(notes));
    EXPECT_EQ(result.notesOut, 15 + 16);
    EXPECT_EQ(result.Counts().front(), std::make_pair(std::string_view("dropped"), int64_t{15}));
    // The 8 shortest, then the 7 softest of the next length.
    for (const ImportChange& change : result.changes)
        if (change.kind == "dropped") {
            const int i = change.note - 40;
            EXPECT_TRUE(change.tick == start / 2 && (i % 4 == 0 || (i % 4 == 1 && (rising ? i <= 25 : i >= 5))))
                << change.note << (rising ? " rising" : " falling");
        }
  }
}

// Of two notes of a pitch struck together the shorter goes, and its end is
// no group's: the one kept sounds untied.
TEST(Importer, ADroppedNoteEndsNoGroup) {
    const ImportResult result = Import(Midi({{.on = 0, .off = 192, .channel = 0, .pitch = 60, .velocity = 90},
                                             {.on = 0, .off = 96, .channel = 0, .pitch = 60, .velocity = 90}}));
    EXPECT_EQ(result.notesOut, 1);
    EXPECT_EQ(CheckSongImage(result.song, "test.sng").timeline.ties, 0);
}

TEST(Importer, MergesPairsOnAChannelThenDropsTheSmallest) {
    // 18 MIDI tracks: 16 on channels of their own, two more sharing channel 3,
    // and the smallest pairs of distinct channels beyond 15 dropped. Then
    // with the tracks' notes the other way round, so that pair 0 is the
    // largest of channel 3 and the others go into it; then sharing channel 0,
    // where pair 0, the smallest, goes first, and of the two left of 18 notes
    // the first goes into the other.
    struct Case {
        uint8_t shared;
        bool reversed;
        uint16_t kept;  // the MIDI track of the shared channel's track
    };
    for (const auto [shared, reversed, kept] : {Case{3, false, 16}, Case{3, true, 17}, Case{0, false, 17}}) {
        std::vector<MidiNoteEvent> notes;
        for (int i = 0; i < 18; ++i)
            for (int track = reversed ? 17 - i : i, n = 0; n <= track; ++n)
                notes.push_back({.on = 96 * n, .off = 96 * n + 96, .track = static_cast<uint16_t>(track),
                                 .channel = static_cast<uint8_t>(track < 16 ? track : shared), .pitch = 60, .velocity = 90});
        const ImportResult result = Import(Midi(notes));
        EXPECT_EQ(result.tracks.size(), 15u);
        EXPECT_EQ(Count(result, "merged"), 2);
        // The shared channel now holds three pitch-60 lines struck together: two of each onset go.
        EXPECT_GT(Count(result, "dropped"), 0);
        const auto track = std::ranges::find(result.tracks, int{shared}, &ImportedTrack::channel);
        ASSERT_NE(track, result.tracks.end());
        EXPECT_EQ(track->midiTrack, kept) << int{shared} << (reversed ? " reversed" : "");
        if (shared == 3 && !reversed) {
            const auto merged = std::ranges::find(result.changes, std::string_view("merged"), &ImportChange::kind);
            EXPECT_EQ(merged->detail, "MIDI track 3, channel 4 merged into track 14");  // the smallest into the earliest
        }
    }
}

TEST(Importer, ALoudChordTakesAccentsUpToTheLoudestVelocity) {
    // One loudness for the chord: 107, the loudest that still takes an
    // accent, with 127 and 119 accented (to 127) and 107 plain.
    std::vector<MidiNoteEvent> notes;
    for (const uint8_t velocity : {127, 119, 107})
        notes.push_back({.on = 0, .off = 96, .channel = 0, .pitch = velocity, .velocity = velocity});
    const ImportResult result = Import(Midi(notes));
    EXPECT_EQ(result.maxVelocityError, 8);
    ASSERT_EQ(Count(result, "velocity"), 1);
    EXPECT_EQ(result.changes.back().detail, "velocity 119 written as 127");
}

TEST(Importer, EndsANoteWhereItsPitchIsStruckAgainOnTheChannel) {
    const ImportResult result = Import(Midi({
        {.on = 0, .off = 192, .track = 0, .channel = 0, .pitch = 60, .velocity = 80},
        {.on = 96, .off = 288, .track = 1, .channel = 0, .pitch = 60, .velocity = 80},
    }));
    EXPECT_EQ(result.notesOut, 2);
    EXPECT_EQ(Count(result, "shortened"), 1);
    // One that ends where the next is struck is not shortened.
    EXPECT_EQ(Count(Import(Midi({{.on = 0, .off = 96, .channel = 0, .pitch = 60, .velocity = 80},
                                 {.on = 96, .off = 192, .channel = 0, .pitch = 60, .velocity = 80}})),
                    "shortened"),
              0);
}

// An onset goes to the nearest step of the grid, half a step or more later
// to the next one.
TEST(Importer, SnapsAnOnsetToTheNearestStep) {
    for (const int off : {20, 23, 24, 28}) {  // of a 48-tick quarter, after the second
        const ImportResult result = Import(Midi({{.on = 0, .off = 96, .channel = 0, .pitch = 60, .velocity = 80},
                                                 {.on = 192 + 2 * off, .off = 384, .channel = 0, .pitch = 62, .velocity = 80}}),
                                           48);
        const auto moved = std::ranges::find(result.changes, std::string_view("moved"), &ImportChange::kind);
        ASSERT_NE(moved, result.changes.end()) << off;
        EXPECT_EQ(moved->tick, off < 24 ? 96 : 144) << off;
    }
}

// A velocity the loudness and the accent cannot give is reported with the
// one written: 120 beside two of 110 is accented, at the highest, 127.
TEST(Importer, ReportsAVelocityWrittenFarOff) {
    const ImportResult result = Import(Midi({{.on = 0, .off = 96, .channel = 0, .pitch = 60, .velocity = 110},
                                             {.on = 0, .off = 96, .channel = 0, .pitch = 64, .velocity = 110},
                                             {.on = 0, .off = 96, .channel = 0, .pitch = 67, .velocity = 120}}));
    ASSERT_EQ(Count(result, "velocity"), 1);
    // A soft note alone is written as it is.
    EXPECT_EQ(Import(Midi({{.on = 0, .off = 96, .channel = 0, .pitch = 60, .velocity = 10}})).maxVelocityError, 0);
    EXPECT_EQ(std::ranges::find(result.changes, std::string_view("velocity"), &ImportChange::kind)->detail,
              "velocity 120 written as 127");
}

// Every key a MIDI file names, major or minor, becomes the song's key of as
// many sharps or flats; every meter the song can write becomes its time
// signature, its bars a measure apart; one it cannot write is left out.
TEST(Importer, KeysAndMetersBecomeTheSongsSignatures) {
    const std::vector<std::pair<uint8_t, uint32_t>> meters = {{2, 2}, {3, 2}, {2, 4}, {3, 4}, {4, 4}, {5, 4}, {6, 8}, {7, 8}};
    for (int sharps = -7; sharps <= 7; ++sharps) {
        for (const auto& [numerator, denominator] : meters) {
            MidiFileData midi = Midi({{.on = 0, .off = 96 * 12, .channel = 0, .pitch = 60, .velocity = 90}});
            midi.metas = {{.tick = 0, .kind = MidiMetaKind::Key, .sharps = static_cast<int8_t>(sharps), .minor = sharps % 2 != 0},
                          {.tick = 0, .kind = MidiMetaKind::Time, .numerator = numerator, .denominator = denominator}};
            const ImportResult result = Import(midi);
            const std::string what = std::to_string(sharps) + " sharps, " + std::to_string(numerator) + "/" +
                                     std::to_string(denominator);
            std::optional<int> key;
            std::optional<TimeSignatureParts> time;
            const Timeline timeline = CheckSongImage(result.song, "test.sng").timeline;
            for (const TimedControl& control : timeline.controls) {
                if (control.code == kCodeKeySignature || control.code == kCodeTimeSignature) {
                    EXPECT_EQ(control.tick, 0) << what;
                }
                if (control.code == kCodeKeySignature) key = KeySignatureSharps(control.value);
                if (control.code == kCodeTimeSignature) time = TimeSignatureOf(control.value);
            }
            EXPECT_EQ(key, sharps) << what;
            if (numerator == 7) {
                EXPECT_FALSE(time) << what;
                continue;
            }
            ASSERT_TRUE(time) << what;
            EXPECT_EQ(time->numerator, numerator) << what;
            EXPECT_EQ(time->denominator, static_cast<int>(denominator)) << what;
            // Twelve quarters: a bar at every measure's start.
            const int64_t length = 192 * numerator / static_cast<int64_t>(denominator);
            EXPECT_EQ(timeline.measures, (12 * 48 + length - 1) / length) << what;
        }
    }
    // Past 7 sharps or flats names no key: left out, and said.
    for (const int8_t sharps : {8, -8}) {
        MidiFileData none = Midi({{.on = 0, .off = 96, .channel = 0, .pitch = 60, .velocity = 90}});
        none.metas = {{.tick = 0, .kind = MidiMetaKind::Key, .sharps = sharps}};
        const ImportResult result = Import(none);
        EXPECT_EQ(Count(result, "key"), 1) << int{sharps};
        EXPECT_TRUE(std::ranges::none_of(CheckSongImage(result.song, "test.sng").timeline.controls,
                                         [](const TimedControl& c) { return c.code == kCodeKeySignature; }));
    }
    // 4/4 until the first meter, then 3/4: bars at quarters 0, 4, ..., 20 and 23.
    MidiFileData changed = Midi({{.on = 0, .off = 96 * 26, .channel = 0, .pitch = 60, .velocity = 90}});
    changed.metas = {{.tick = 96 * 20, .kind = MidiMetaKind::Time, .numerator = 3, .denominator = 4}};
    EXPECT_EQ(CheckSongImage(Import(changed).song, "test.sng").timeline.measures, 7);
    // A measure of 12/4 holds a note of 12 quarters as two of the longest durations, tied.
    MidiFileData twelve = Midi({{.on = 0, .off = 96 * 12, .channel = 0, .pitch = 60, .velocity = 90}});
    twelve.metas = {{.tick = 0, .kind = MidiMetaKind::Time, .numerator = 12, .denominator = 4}};
    EXPECT_EQ(CheckSongImage(Import(twelve).song, "test.sng").timeline.ties, 1);
}

// A pair takes its own first program change, else the first of its
// channel in any track; the title, a track's name, keeps room for its end.
TEST(Importer, APairTakesItsOwnProgramElseItsChannelsAndATrackNameTitlesTheSong) {
    MidiFileData midi = Midi({{.on = 0, .off = 96, .track = 1, .channel = 0, .pitch = 60, .velocity = 90},
                              {.on = 0, .off = 96, .track = 2, .channel = 1, .pitch = 64, .velocity = 90}});
    midi.programs = {{.track = 0, .channel = 1, .program = 33}, {.track = 0, .channel = 0, .program = 40},
                     {.track = 2, .channel = 1, .program = 20}};
    midi.trackNames[1] = std::string(40, 'x');
    const ImportResult result = Import(midi);
    ASSERT_EQ(result.tracks.size(), 2u);
    EXPECT_EQ(result.tracks[0].patch, 40);
    EXPECT_EQ(result.tracks[1].patch, 20);
    EXPECT_EQ(result.title, std::string(kTitleLength - 1, 'x'));
    midi.trackNames[1] = std::string("ab\0cd", 5);  // a name ends at a zero byte
    EXPECT_EQ(Import(midi).title, "ab");
}

TEST(Importer, SaysHowManyNotesHadNoNoteOffAndTakesTheFilesNameForNoTitle) {
    for (const int64_t unended : {1, 2}) {
        MidiFileData midi = Midi({{.on = 0, .off = 96, .channel = 0, .pitch = 60, .velocity = 90}});
        midi.unendedNotes = unended;
        const ImportResult result =
            ImportMidi(midi, {.fileName = unended == 1 ? "test.mid" : "dir/test.mid", .songName = "test.sng"});
        const std::string said = unended == 1 ? "1 note without a note off, ended at the end of the track"
                                              : "2 notes without a note off, ended at the end of the track";
        EXPECT_TRUE(std::ranges::any_of(result.changes, [&](const ImportChange& c) { return c.detail == said; })) << said;
        EXPECT_EQ(result.title, "test.mid");  // no track names: the file's name, without its folder
    }
}

}  // namespace
