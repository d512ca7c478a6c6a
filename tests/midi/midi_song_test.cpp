// What the comparison with the trace (compare_with_trace.py) does not see:
// the two header options, the conductor's tempos and signatures, and a gap
// longer than a delta time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "midi/midi_song.h"
#include "midi/smf_writer.h"
#include "output/output.h"
#include "song_generator.h"
#include "song_writer.h"
#include "support/recorded_song.h"

namespace {

// Track 0 plays an octave up when transposed (116 to 128, one past MIDI's
// pitches); track 1 is disabled and has a negative patch. The tempo comes
// after tick 0, too slow for a MIDI file.
std::vector<uint8_t> TwoTracks() {
    constexpr int kQuarter = 12;
    SongWriter song;
    song.Title("two").Track(0, "Up", 0, 4, 0).Track(1, "Off", 1, 3, -5, false);
    song.KeySignature(10).TimeSignature(7).Loudness(80);
    song.Note(0, kQuarter, 116).Note(0, kQuarter, 60).Note(1, kQuarter, 64).EndGroup();
    song.Tempo(2).KeySignature(0).Note(0, kQuarter, 62).EndGroup();
    return song.EndSong().Bytes();
}

struct Exported {
    MidiSong midi;
    std::vector<int> pitchesStruck;  // sorted
};

Exported Export(const std::vector<uint8_t>& bytes, ExportOptions options) {
    const RecordedSong recorded = Record(bytes);
    MidiPerformance performance(*recorded.song, recorded.timeline, options);
    std::vector<int> pitches;
    performance.PlayNotes([&pitches](const NoteMessage& message) {
        if (message.on) pitches.push_back(message.pitch);
    });
    std::sort(pitches.begin(), pitches.end());
    return {performance.Song(), pitches};
}

}  // namespace

TEST(MidiPerformance, PlaysWhatTheEnginePlaysAndTransposesOrSkipsOnlyWhenAsked) {
    const auto [played, struck] = Export(TwoTracks(), {});
    ASSERT_EQ(played.tracks.size(), 2u);
    EXPECT_EQ(played.tracks[0].program, 0);
    EXPECT_EQ(played.tracks[1].program, std::nullopt);
    EXPECT_EQ(played.losses.noPatch, 1);
    EXPECT_EQ(struck, (std::vector<int>{60, 62, 64, 116}));
    // A mask's bit past the last track selects nothing more.
    EXPECT_EQ(Export(TwoTracks(), {.trackMask = 0xFFFF}).midi.tracks.size(), 2u);

    const auto [asked, struckAsked] = Export(TwoTracks(), {.transposeOctaves = true, .skipDisabled = true});
    ASSERT_EQ(asked.tracks.size(), 1u);
    EXPECT_EQ(asked.tracks[0].name, "Up");
    EXPECT_EQ(struckAsked, (std::vector<int>{72, 74}));
    EXPECT_EQ(asked.losses.outOfRange, 1);
    // The warning names each loss there was, and no other; the audio has no tempo or signature to lose.
    EXPECT_EQ(DescribeLosses(played.losses, false), "1 track with a negative patch given no program change");
    EXPECT_EQ(DescribeLosses(asked.losses, true),
              "1 note transposed past MIDI's pitches left out; 1 tempo below 3.58 beats per minute written as 3.58; "
              "1 key or time signature naming none left out");
}

TEST(MidiPerformance, ConductorHasTheDefaultTempoFirstThenTheSongsSignaturesAndTempos) {
    const MidiSong midi = Export(TwoTracks(), {}).midi;
    ASSERT_EQ(midi.conductor.size(), 4u);
    EXPECT_EQ(std::get<TempoChange>(midi.conductor[0].what).microsecondsPerQuarter, 500000u);
    EXPECT_EQ(std::get<KeyChange>(midi.conductor[1].what).sharps, -2);  // B flat major
    const auto meter = std::get<MeterChange>(midi.conductor[2].what);
    EXPECT_EQ(meter.numerator * 10 + meter.denominator, 68);  // 6/8
    EXPECT_EQ(midi.conductor[3].tick, 47);
    EXPECT_EQ(std::get<TempoChange>(midi.conductor[3].what).microsecondsPerQuarter, 0xFFFFFFu);
    EXPECT_EQ(midi.losses.slowTempos, 1);
    EXPECT_EQ(midi.losses.unnamedSignatures, 1);
}

TEST(StandardMidiFile, BridgesAGapLongerThanADeltaTime) {
    const SSONG silent{};
    Timeline timeline;
    timeline.lastTick = 0x0FFFFFFF + 5;
    MidiPerformance performance(silent, timeline, {});
    const std::vector<uint8_t> expected = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 48,  // format 1, one track, 48 ticks a quarter
        'M', 'T', 'r', 'k', 0, 0, 0, 22,
        0x00, 0xFF, 0x03, 0x00,                    // no title
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // 120 beats per minute
        0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00,  // the longest delta, an empty text
        0x05, 0xFF, 0x2F, 0x00};                   // the rest of the gap, end of track
    EXPECT_EQ(WriteStandardMidiFile(performance), expected);
}

// As written, a song ends where its notation ends: where the last of its
// notes and rests written ends (the last batch, played a tick short, too);
// as played, at its last tick, after every note has ended.
TEST(MidiPerformance, EndsWhereTheNotationEndsAsWrittenAndAtTheLastTickAsPlayed) {
    for (uint64_t seed = 1; seed <= 30; ++seed) {
        const RecordedSong recorded = Record(GenerateSong({.events = 40 + 10 * seed, .seed = seed}).bytes);
        const Timeline& timeline = recorded.timeline;
        int64_t writtenEnd = 0;
        int64_t playedEnd = 0;
        for (const TimedNote& note : timeline.notes) {
            writtenEnd = std::max<int64_t>(writtenEnd, note.on + note.batchesBefore + note.writtenLength);
            playedEnd = std::max(playedEnd, note.off);
        }
        const MidiSong asWritten = MidiPerformance(*recorded.song, timeline, {.asWritten = true}).Song();
        const MidiSong asPlayed = MidiPerformance(*recorded.song, timeline, {}).Song();
        EXPECT_EQ(asWritten.endTick, writtenEnd) << "seed " << seed;
        EXPECT_GE(asPlayed.endTick, playedEnd) << "seed " << seed;
        EXPECT_LT(asPlayed.endTick, writtenEnd) << "seed " << seed;
    }
}

// A song written out as it plays gives the bytes of its recorded
// performance, whatever the song and the options, its tracks kept in memory
// or (a few bytes each) in temporary files.
TEST(MidiStream, WritesTheRecordedPerformancesBytes) {
    const DroppedDiagnostics quiet;  // the damaged songs' diagnostics
    std::vector<std::vector<uint8_t>> songs = {TwoTracks()};
    const auto root = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    for (const auto& folder : {root / "tests" / "corpus", root / "fuzz" / "corpus-seed"})
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() != ".sng" && folder.filename() == "corpus") continue;
            std::ifstream file(entry.path(), std::ios::binary);
            songs.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
    for (uint64_t seed = 1; seed <= 12; ++seed) songs.push_back(GenerateSong({.events = 400 * seed, .seed = seed}).bytes);
    int compared = 0;
    for (const std::vector<uint8_t>& bytes : songs) {
        if (bytes.size() < kHeaderSize) continue;  // unreadable
        for (const ExportOptions options : {ExportOptions{}, ExportOptions{.asWritten = true},
                                            ExportOptions{.transposeOctaves = true, .skipDisabled = true}}) {
            RecordedSong recorded = Record(bytes);
            MidiPerformance performance(*recorded.song, recorded.timeline, options);
            const std::vector<uint8_t> whole = WriteStandardMidiFile(performance);
            for (const size_t inMemory : {kTrackBytesInMemory, size_t{7}}) {
                std::vector<uint8_t> streamed;
                const StreamedMidiFile file = StreamStandardMidiFile(
                    [&] { return OpenSongImage(bytes, Parsing::AsItPlays); }, options,
                    [&](std::span<const uint8_t> piece) {
                        streamed.insert(streamed.end(), piece.begin(), piece.end());
                        return true;
                    },
                    inMemory);
                ASSERT_TRUE(file.written) << file.error;
                ASSERT_EQ(streamed, whole) << "song " << compared;
                EXPECT_EQ(DescribeLosses(file.losses, true), DescribeLosses(performance.Song().losses, true));
                EXPECT_EQ(file.facts.lastTick, recorded.timeline.lastTick);
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 200);
}
