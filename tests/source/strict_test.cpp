// `asm --strict` refuses exactly the songs that the check does not call
// clean, at the line of the group where playback went wrong: on songs that
// a rule of thumb gets wrong, and on many generated songs with one edit each.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "check/check.h"
#include "song_generator.h"
#include "source/assembler.h"
#include "source/disassembler.h"
#include "source/strict.h"

namespace {

struct Verdicts {
    bool assembled = false;
    std::optional<SourceError> refusal;
    bool clean = false;
};

Verdicts Judge(const std::string& source) {
    const Assembly assembly = Assemble(source, LineMap::Keep);
    if (assembly.error) return {};
    return {true, RefuseUnclean(assembly.song, assembly.lines),
            CheckSongImage(assembly.song, "strict").verdict == Verdict::Clean};
}

const std::string kTwoTracksOnOneChannel = "track 0 A 0 3 0 on\ntrack 1 B 0 3 0 on\n";  // lines 1, 2

TEST(Strict, TheEnginesTieSearchDecides) {
    struct Case {
        std::string body;  // from line 3 on
        int line;          // of the refusal, 0 for none
        std::string what;
    };
    const Case cases[] = {
        // Track 1 strikes C5 on the same channel: the continuation reloads
        // its note, and track 0's tied note is held past its end.
        {"loud 90 1:q:C5 0:q:C5+tb\n0:q:C5+te 1:q:E5\nend\n", 4, "error 1 at tick 48, measure 0: note held past its end"},
        // A tie continued by another track of the same channel plays cleanly.
        {"0:q:C5+tb\n1:q:C5+te 0:q:E5\nend\n", 0, ""},
        // Two tied notes of one pitch on a shared channel: both
        // continuations find the first, and the second is held past its end.
        {"0:q:C5+tb 1:q:C5+tb\n0:q:C5+te 1:q:C5+te 0:h:rest\nend\n", 4, "note held past its end (track 1, note C5)"},
        {"0:q:C5+tb\n0:q:D5\nend\n", 4, "note held past its end (track 0, note C5)"},
        {"0:q:C5+tb\nend\n", 4, "error 1 at tick 48, measure 0"},
        {"0:h:C5 1:q:E5+tb\n1:q:E5+te\nend\n", 5, "stopped at tick 48, measure 0: the song end came while notes still sound"},
        {"bar 0:q:C5\n0:q:D5+te 0:q:E5\nend\n", 4, "error 2 at tick 47, measure 1: tie continuation found no note"},
        {"0:q:C5\n", 3, "the song has no 'end': event stream ends without a song-end code"},
        {"tempo 0 1:q:C5\nend\n", 0, ""},  // the engine takes a tempo of 0 for 120
    };
    for (const Case& c : cases) {
        const Verdicts verdicts = Judge(kTwoTracksOnOneChannel + c.body);
        ASSERT_TRUE(verdicts.assembled) << c.body;
        EXPECT_EQ(verdicts.refusal.has_value(), !verdicts.clean) << c.body;
        if (c.line == 0) {
            EXPECT_FALSE(verdicts.refusal) << c.body << verdicts.refusal->message;
            continue;
        }
        ASSERT_TRUE(verdicts.refusal) << c.body;
        EXPECT_EQ(verdicts.refusal->line, c.line) << c.body;
        EXPECT_EQ(verdicts.refusal->column, 0) << c.body;
        EXPECT_NE(verdicts.refusal->message.find(c.what), std::string::npos) << c.body << verdicts.refusal->message;
    }
}

// One edit of a generated song's source: a note's duration, a flag, a
// dropped line.
std::string Edited(std::string source, std::mt19937& random) {
    std::vector<size_t> notes;  // where the duration of each note stands
    for (size_t at = source.find(':'); at != std::string::npos; at = source.find(':', at + 1))
        if (at + 2 < source.size() && source[at + 2] == ':') notes.push_back(at + 1);
    if (notes.empty()) return source;
    const size_t at = notes[random() % notes.size()];
    switch (random() % 4) {
        case 0: source[at] = "wheqst"[random() % 6]; break;  // another duration
        case 1: source.insert(source.find_first_of(" \n", at), "+tb"); break;
        case 2: source.insert(source.find_first_of(" \n", at), "+te"); break;
        default: {  // drop the line
            const size_t start = source.rfind('\n', at) + 1;
            source.erase(start, source.find('\n', at) + 1 - start);
        }
    }
    return source;
}

TEST(Strict, RefusesExactlyWhatTheCheckDoesNotCallClean) {
    std::mt19937 random(7);
    int refused = 0;
    int accepted = 0;
    for (uint64_t seed = 1; seed <= 60; ++seed) {
        const std::string source = Disassemble(GenerateSong({.events = 40, .seed = seed}).bytes);
        for (const std::string& text : {source, Edited(source, random), Edited(source, random)}) {
            const Verdicts verdicts = Judge(text);
            if (!verdicts.assembled) continue;  // an edit the language refuses
            ASSERT_EQ(verdicts.refusal.has_value(), !verdicts.clean)
                << text << (verdicts.refusal ? verdicts.refusal->message : "accepted");
            ++(verdicts.refusal ? refused : accepted);
        }
    }
    // Both sides of the rule were met.
    EXPECT_GT(refused, 20);
    EXPECT_GT(accepted, 60);
}

}  // namespace
