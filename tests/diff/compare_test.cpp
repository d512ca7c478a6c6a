// The comparison over generated songs: a song is the same as itself and as
// its own MIDI export; one edit of its source (a pitch, a note made a rest,
// an accent, a duration) gives exactly the difference it should, at the
// edit's tick and nowhere earlier; and B against A mirrors A against B.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "diff/compare.h"
#include "diff/diff_report.h"
#include "diff/diff_side.h"
#include "midi/smf_writer.h"
#include "song/tables.h"
#include "song_generator.h"
#include "song_writer.h"
#include "source/assembler.h"
#include "source/disassembler.h"
#include "source/played_ticks.h"
#include "support/recorded_song.h"

namespace {

DiffSide Side(const std::vector<uint8_t>& bytes, DiffTimeline timeline = DiffTimeline::AsPlayed) {
    SideError error;
    std::optional<DiffSide> side = ReadDiffSide(bytes, "side", timeline, error);
    EXPECT_TRUE(side) << error.message;
    return side ? *side : DiffSide{};
}

std::vector<uint8_t> Assembled(const std::string& source) {
    const Assembly assembly = Assemble(source, LineMap::Skip);
    EXPECT_FALSE(assembly.error) << assembly.error->message << "\n" << source;
    return assembly.song;
}

std::vector<uint8_t> MidiExport(const std::vector<uint8_t>& song, bool asWritten) {
    RecordedSong recorded = Record(song);
    MidiPerformance performance(*recorded.song, recorded.timeline, {.asWritten = asWritten});
    return WriteStandardMidiFile(performance);
}

// A generated song with no repeats, so that each note of the source sounds
// once, in the source that `dis` prints: each group line ends with its tick.
std::string SongSource(uint64_t seed) {
    std::string source = Disassemble(GenerateSong({.events = 60, .seed = seed}).bytes);
    source = std::regex_replace(source, std::regex(" (repeat -?[0-9]+|endrepeat)"), "");
    const std::vector<uint8_t> song = Assembled(source);
    PlayedTicks ticks(song);
    return Disassemble(song, &ticks);
}

// A note of the source with no flags: where it stands, its tick and pitch.
struct SourceNote {
    size_t at;      // of the note's name
    size_t length;  // of the name
    int64_t tick;
    int32_t measure;
    int pitch;
};

std::vector<SourceNote> PlainNotes(const std::string& source) {
    std::map<std::string, int> pitchOf;
    for (int pitch = 0; pitch < 128; ++pitch) pitchOf[NoteText(pitch)] = pitch;
    std::vector<SourceNote> notes;
    const std::regex line("([^\n#]*)# tick ([0-9]+), measure ([0-9]+)[^\n]*\n");
    const std::regex note(" [0-9]+:[a-z0-9.]+:([A-G]#?[0-9]+)(?=[ \n#]|$)");
    for (auto l = std::sregex_iterator(source.begin(), source.end(), line); l != std::sregex_iterator(); ++l) {
        const std::string body = " " + (*l)[1].str();
        const int64_t tick = std::stoll((*l)[2].str());
        const auto measure = static_cast<int32_t>(std::stol((*l)[3].str()));
        for (auto n = std::sregex_iterator(body.begin(), body.end(), note); n != std::sregex_iterator(); ++n)
            notes.push_back({.at = static_cast<size_t>(l->position(1) + n->position(1) - 1),
                             .length = static_cast<size_t>(n->length(1)),
                             .tick = tick,
                             .measure = measure,
                             .pitch = pitchOf.at((*n)[1].str())});
    }
    return notes;
}

// The note sounds once in A at its tick, and no other note of its pitch
// sounds into that tick: then an edit of it touches it alone.
bool SoundsAlone(const DiffSide& a, const SourceNote& note) {
    int at = 0;
    for (const DiffNote& n : a.notes) {
        if (n.pitch != note.pitch) continue;
        if (n.on == note.tick) ++at;
        if (n.on < note.tick && n.off >= note.tick) return false;
    }
    return at == 1;
}

int UnusedPitch(const DiffSide& a) {
    std::set<int> used;
    for (const DiffNote& n : a.notes) used.insert(n.pitch);
    for (int pitch = 30; pitch < 100; ++pitch)
        if (!used.contains(pitch)) return pitch;
    return 127;
}

DiffKind Mirrored(DiffKind kind) {
    switch (kind) {
        case DiffKind::Removed: return DiffKind::Added;
        case DiffKind::Added: return DiffKind::Removed;
        case DiffKind::Longer: return DiffKind::Shorter;
        case DiffKind::Shorter: return DiffKind::Longer;
        case DiffKind::Louder: return DiffKind::Softer;
        case DiffKind::Softer: return DiffKind::Louder;
        default: return kind;
    }
}

void ExpectMirrored(const DiffSide& a, const DiffSide& b, const DiffResult& forth) {
    const DiffResult back = Compare(b, a, {});
    ASSERT_EQ(back.differences.size(), forth.differences.size());
    EXPECT_EQ(back.counts.matched, forth.counts.matched);
    EXPECT_EQ(back.counts.onlyInA, forth.counts.onlyInB);
    for (size_t i = 0; i < forth.differences.size(); ++i) {
        const Difference& x = forth.differences[i];
        const Difference& y = back.differences[i];
        EXPECT_EQ(y.tick, x.tick);
        EXPECT_EQ(y.kind, Mirrored(x.kind)) << DiffKindName(x.kind) << " at " << x.tick;
        EXPECT_EQ(y.a != nullptr, x.b != nullptr);
        if (x.a && y.b) {
            EXPECT_EQ(x.a->on, y.b->on);
        }
    }
}

TEST(Diff, ASongIsTheSameAsItselfAndAsItsMidiExport) {
    for (uint64_t seed = 1; seed <= 25; ++seed) {
        const std::vector<uint8_t> song = GenerateSong({.events = 80, .seed = seed}).bytes;
        for (const DiffTimeline timeline : {DiffTimeline::AsPlayed, DiffTimeline::AsWritten}) {
            const DiffSide a = Side(song, timeline);
            ASSERT_FALSE(a.notes.empty());
            const DiffSide midi = Side(MidiExport(song, timeline == DiffTimeline::AsWritten));
            EXPECT_TRUE(midi.midiFile);
            for (const DiffSide* b : {&a, &midi}) {
                const DiffResult result = Compare(a, *b, {});
                EXPECT_TRUE(result.same) << "seed " << seed << ": "
                                         << (result.same ? "" : DifferenceLine({a, *b, result}, result.differences[0]));
                EXPECT_EQ(result.counts.matched, static_cast<int64_t>(a.notes.size()));
                EXPECT_DOUBLE_EQ(result.score.fMeasure, 1.0);
            }
        }
        // As played and as written differ from the first batch that plays a tick short on.
        const DiffResult drift = Compare(Side(song), Side(song, DiffTimeline::AsWritten), {});
        EXPECT_FALSE(drift.same) << seed;
    }
}

TEST(Diff, OneEditGivesItsDifferenceAtItsTickAndNoneEarlier) {
    std::mt19937 random(2026);
    std::map<std::string, int> tried;
    for (uint64_t seed = 1; seed <= 80; ++seed) {
        const std::string source = SongSource(seed);
        const std::vector<uint8_t> song = Assembled(source);
        const DiffSide a = Side(song);
        const std::vector<SourceNote> notes = PlainNotes(source);
        ASSERT_FALSE(notes.empty()) << source;
        const SourceNote& note = notes[random() % notes.size()];
        if (!SoundsAlone(a, note)) continue;
        std::string edited = source;
        const int edit = static_cast<int>(seed % 4);
        const char* names[] = {"pitch", "rest", "accent", "duration"};
        switch (edit) {
            case 0: edited.replace(note.at, note.length, NoteText(UnusedPitch(a))); break;
            case 1: edited.replace(note.at, note.length, "rest"); break;
            case 2: edited.insert(note.at + note.length, "+acc"); break;
            default: {
                const size_t duration = edited.rfind(':', note.at - 2) + 1;
                const char now = edited[duration];
                edited[duration] = now == 'w' ? 'h' : 'w';
            }
        }
        const DiffSide b = Side(Assembled(edited));
        const DiffResult result = Compare(a, b, {});
        const std::string what = std::string(names[edit]) + " edit, seed " + std::to_string(seed);
        ExpectMirrored(a, b, result);
        if (edit == 3) {  // a duration moves what follows: the first difference is the note's
            ASSERT_FALSE(result.same) << what;
            EXPECT_EQ(*result.firstTick, note.tick) << what;
            EXPECT_EQ(result.firstMeasure, note.measure) << what;
            ++tried[names[edit]];
            continue;
        }
        if (edit == 2 && result.same) continue;  // already at the loudest
        ASSERT_EQ(result.differences.size(), 1u) << what << "\n" << edited;
        const Difference& d = result.differences[0];
        EXPECT_EQ(d.tick, note.tick) << what;
        EXPECT_EQ(d.measure, note.measure) << what;
        const DiffKind expected[] = {DiffKind::Repitched, DiffKind::Removed, DiffKind::Louder};
        // An accent on a note of loudness 0 makes a silent note heard.
        if (edit != 2 || d.kind != DiffKind::Added) {
            EXPECT_EQ(d.kind, expected[edit]) << what;
        }
        ++tried[names[edit]];
    }
    for (const char* name : {"pitch", "rest", "accent", "duration"}) EXPECT_GE(tried[name], 8) << name;
}

TEST(Diff, AChangedTempoIsOneTempoDifferenceAtItsTick) {
    int tried = 0;
    const std::regex tempo(" tempo ([0-9]+)([^\n#]*)# tick ([0-9]+)");
    for (uint64_t seed = 1; seed <= 30; ++seed) {
        const std::string source = SongSource(seed);
        std::smatch found;
        if (!std::regex_search(source, found, tempo)) continue;
        std::set<std::string> used;
        for (auto t = std::sregex_iterator(source.begin(), source.end(), tempo); t != std::sregex_iterator(); ++t)
            used.insert((*t)[1].str());
        int unused = 101;
        while (used.contains(std::to_string(unused))) ++unused;
        std::string edited = source;
        edited.replace(static_cast<size_t>(found.position(1)), static_cast<size_t>(found.length(1)), std::to_string(unused));
        const DiffResult result = Compare(Side(Assembled(source)), Side(Assembled(edited)), {});
        ASSERT_EQ(result.differences.size(), 1u) << "seed " << seed;
        EXPECT_EQ(result.differences[0].kind, DiffKind::Tempo);
        EXPECT_EQ(result.differences[0].tick, std::stoll(found[3].str()));
        EXPECT_EQ(result.counts.Of(DiffKind::Tempo), 1);
        ++tried;
    }
    EXPECT_GE(tried, 10);
}

TEST(Diff, PairsEachNoteOnceNearestFirstAndScoresAsTranscriptions) {
    const auto note = [](int64_t on, int64_t off, int pitch, int velocity = 100) {
        return DiffNote{.on = on, .off = off, .track = 0, .channel = 0, .pitch = static_cast<uint8_t>(pitch),
                        .velocity = static_cast<uint8_t>(velocity)};
    };
    DiffSide a, b;
    a.notes = {note(0, 24, 60), note(48, 72, 60), note(96, 120, 62), note(400, 424, 64), note(900, 924, 65),
               note(1200, 1224, 67)};
    b.notes = {note(0, 24, 60), note(50, 74, 60), note(96, 130, 63, 90), note(700, 724, 64), note(900, 924, 65),
               note(1200, 1224, 67, 101)};
    DiffResult result = Compare(a, b, {});
    // 60 at 48 moved +2; 62 re-pitched to 63 (also longer, softer); 64 moved
    // 300 ticks is one removed and one added; 65 unchanged; 67 one louder.
    std::vector<std::string> kinds;
    for (const Difference& d : result.differences) kinds.emplace_back(DiffKindName(d.kind));
    EXPECT_EQ(kinds, (std::vector<std::string>{"moved", "repitched", "removed", "added", "louder"}));
    EXPECT_EQ(result.counts.matched, 3);
    EXPECT_EQ(result.counts.Of(DiffKind::Longer), 1);
    EXPECT_EQ(result.counts.Of(DiffKind::Softer), 1);
    EXPECT_EQ(*result.firstTick, 48);
    EXPECT_DOUBLE_EQ(result.score.precision, 3.0 / 6);
    EXPECT_DOUBLE_EQ(result.score.fMeasure, 3.0 / 6);  // recall 3/6 too
    EXPECT_EQ(DifferenceLine({a, b, result}, result.differences[0]), "tick 48, measure 0, track 0: C5 moved +2 ticks (48 -> 50)");
    // Within a tolerance of 2 ticks the moved note agrees.
    result = Compare(a, b, {.tolerance = 2});
    EXPECT_EQ(result.counts.matched, 4);
    EXPECT_EQ(result.counts.Of(DiffKind::Moved), 0);
    EXPECT_EQ(DifferenceLine({a, b, result}, result.differences[0]),
              "tick 96, measure 0, track 0: D5 re-pitched to D#5, 10 ticks longer (24 -> 34), softer (velocity 100 -> 90)");
    // One note in reach of two of the other side pairs with the nearer, either way round.
    DiffSide two, one;
    two.notes = {note(0, 24, 60), note(100, 124, 60)};
    one.notes = {note(40, 64, 60)};
    for (const bool twoFirst : {true, false}) {
        result = twoFirst ? Compare(two, one, {}) : Compare(one, two, {});
        ASSERT_EQ(result.differences.size(), 2u) << twoFirst;
        EXPECT_EQ(result.differences[0].kind, DiffKind::Moved) << twoFirst;
        EXPECT_EQ((twoFirst ? result.differences[0].a : result.differences[0].b)->on, 0) << twoFirst;
        EXPECT_EQ(result.differences[1].kind, twoFirst ? DiffKind::Removed : DiffKind::Added) << twoFirst;
        EXPECT_EQ(result.differences[1].tick, 100) << twoFirst;
    }
}

// Conductor changes pair as notes do: a change moved by no more than the
// tolerance is the same change, or one difference when its value changed
// too; moved further, it is one change only in A and one only in B.
TEST(Diff, ConductorChangesPairWithinTheTolerance) {
    for (const int64_t tolerance : {0, 3}) {
        for (int64_t shift = -tolerance - 1; shift <= tolerance + 1; ++shift) {
            for (const bool sameValue : {true, false}) {
                DiffSide a, b;
                for (int64_t tick = 40; tick <= 400; tick += 40) {
                    a.controls.push_back({.tick = tick, .kind = ConductorKind::Tempo, .value = 400000 + tick});
                    b.controls.push_back(
                        {.tick = tick + shift, .kind = ConductorKind::Tempo, .value = 400000 + tick + (sameValue ? 0 : 1)});
                }
                const DiffResult result = Compare(a, b, {.tolerance = tolerance});
                const bool within = (shift < 0 ? -shift : shift) <= tolerance;
                const std::string what = "shift " + std::to_string(shift) + ", tolerance " + std::to_string(tolerance);
                size_t paired = 0;
                for (const Difference& d : result.differences) {
                    EXPECT_EQ(d.kind, DiffKind::Tempo) << what;
                    paired += d.controlA && d.controlB;
                }
                EXPECT_EQ(result.differences.size(), within ? (sameValue ? 0u : 10u) : 20u) << what;
                EXPECT_EQ(paired, within ? result.differences.size() : 0u) << what;
                EXPECT_EQ(result.counts.Of(DiffKind::Tempo), static_cast<int64_t>(result.differences.size())) << what;
            }
        }
    }
}

// Of two tempos in one tick the last is the change; a key reads as its
// sharps or flats.
TEST(Diff, TheLastTempoOfATickCountsAndKeysReadAsSharpsOrFlats) {
    const auto song = [](std::initializer_list<uint8_t> tempos) {
        SongWriter writer;
        writer.Track(0, "A", 0, 3, 0);
        for (const uint8_t tempo : tempos) writer.Tempo(tempo);
        writer.Note(0, 12, 60).EndGroup().Tempo(70).Tempo(90).Note(0, 12, 62).EndGroup();
        return writer.EndSong().Bytes();
    };
    const DiffSide a = Side(song({40, 100}));
    EXPECT_TRUE(Compare(a, Side(song({100})), {}).same);
    EXPECT_TRUE(Compare(a, Side(MidiExport(song({100}), false)), {}).same);
    EXPECT_FALSE(Compare(a, Side(song({40})), {}).same);
    const auto key = [](int64_t value) { return ControlValueText({.kind = ConductorKind::Key, .value = value}); };
    EXPECT_EQ(key(0), "0 sharps major");
    EXPECT_EQ(key(1), "1 sharp major");
    EXPECT_EQ(key(-3), "3 flats major");
    EXPECT_EQ(key(1000 - 1), "1 flat minor");
    // A tempo of no length (a MIDI file's 0) reads as none.
    EXPECT_EQ(ControlValueText({.kind = ConductorKind::Tempo, .value = 0}), "0.00 bpm");
}

}  // namespace
