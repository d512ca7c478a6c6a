// What the trace comparison (compare_with_trace.py) does not see: the two
// header options, the conductor's tempos and signatures, and long gaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "midi/midi_song.h"
#include "midi/smf_writer.h"
#include "song_writer.h"
#include "support/recorded_song.h"

namespace {

constexpr int kQuarter = 12;

// Track 0 plays an octave up when transposed; track 1 is disabled and has a
// negative patch. The tempo comes after tick 0, too slow for a MIDI file.
std::vector<uint8_t> TwoTracks() {
    SongWriter song;
    song.Title("two").Track(0, "Up", 0, 4, 0).Track(1, "Off", 1, 3, -5, false);
    song.KeySignature(10).TimeSignature(7).Loudness(80);
    song.Note(0, kQuarter, 120).Note(0, kQuarter, 60).Note(1, kQuarter, 64).EndGroup();
    song.Tempo(2).KeySignature(0).Note(0, kQuarter, 62).EndGroup();
    return song.EndSong().Bytes();
}

struct Exported {
    MidiSong midi;
    std::vector<int> pitchesStruck;  // in order
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

std::string Describe(const ConductorEvent& event) {
    const std::string at = std::to_string(event.tick) + " ";
    if (const auto* tempo = std::get_if<TempoChange>(&event.what))
        return at + "tempo " + std::to_string(tempo->microsecondsPerQuarter);
    if (const auto* key = std::get_if<KeyChange>(&event.what)) return at + "key " + std::to_string(key->sharps);
    if (const auto* meter = std::get_if<MeterChange>(&event.what))
        return at + "time " + std::to_string(meter->numerator) + "/" + std::to_string(meter->denominator);
    return at + "marker " + std::get<Marker>(event.what).text;
}

}  // namespace

TEST(MidiSong, ByDefaultPlaysWhatTheEnginePlays) {
    const auto [midi, pitchesStruck] = Export(TwoTracks(), {});
    ASSERT_EQ(midi.tracks.size(), 2u);
    EXPECT_EQ(midi.tracks[0].program, 0);
    EXPECT_EQ(midi.tracks[1].program, std::nullopt);
    EXPECT_EQ(midi.losses.noPatch, 1);
    EXPECT_EQ(pitchesStruck, (std::vector<int>{60, 62, 64, 120}));
}

TEST(MidiSong, TransposesOctavesAndSkipsDisabledTracksWhenAsked) {
    const auto [midi, pitchesStruck] = Export(TwoTracks(), {.transposeOctaves = true, .skipDisabled = true});
    ASSERT_EQ(midi.tracks.size(), 1u);
    EXPECT_EQ(midi.tracks[0].name, "Up");
    EXPECT_EQ(pitchesStruck, (std::vector<int>{72, 74}));
    EXPECT_EQ(midi.losses.outOfRange, 1);
    EXPECT_EQ(midi.losses.noPatch, 0);
}

TEST(MidiSong, ConductorHasTheDefaultTempoFirstThenTheSongsSignaturesAndTempos) {
    const MidiSong midi = Export(TwoTracks(), {}).midi;
    std::vector<std::string> events;
    for (const ConductorEvent& event : midi.conductor) events.push_back(Describe(event));
    EXPECT_EQ(events, (std::vector<std::string>{"0 tempo 500000", "0 key -2", "0 time 6/8", "47 tempo 16777215"}));
    EXPECT_EQ(midi.losses.slowTempos, 1);
    EXPECT_EQ(midi.losses.unnamedSignatures, 1);
}

TEST(StandardMidiFile, BridgesAGapLongerThanADeltaTime) {
    const SSONG silent{};
    Timeline timeline;
    timeline.lastTick = 0x0FFFFFFF + 5;
    MidiPerformance performance(silent, timeline, {});
    const std::vector<uint8_t> file = WriteStandardMidiFile(performance);
    const std::vector<uint8_t> header = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 48};
    const std::vector<uint8_t> conductor = {'M', 'T', 'r', 'k', 0, 0, 0, 22,
                                            0x00, 0xFF, 0x03, 0x00,                    // no title
                                            0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // 120 beats per minute
                                            0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00,  // an empty text
                                            0x05, 0xFF, 0x2F, 0x00};                    // end of track
    std::vector<uint8_t> expected = header;
    expected.insert(expected.end(), conductor.begin(), conductor.end());
    EXPECT_EQ(file, expected);
}
