// The demo song built from songs/entertan.song plays cleanly from start to end,
// and `songsim asm --strict` turns a small source into the expected bytes or
// rejects bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool HasLine(const std::string& out, const std::string& line) {
    return out.starts_with(line + "\n") || out.find("\n" + line + "\n") != std::string::npos;
}

size_t Count(const std::string& out, const std::string& text) {
    size_t count = 0;
    for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++count;
    return count;
}

TEST(DemoSong, PlaysToTheEndWithoutErrors) {
    const std::vector<uint8_t> song = ReadBytes(SONGSIM_DEMO_SONG);
    ASSERT_GT(song.size(), 520u) << SONGSIM_DEMO_SONG;
    TempFolder folder;
    folder.Write("entertan.sng", song);
    const SongsimRun run = RunSongsimIn(folder);

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out.ends_with("\nERRORS = 0\n"));
    EXPECT_TRUE(HasLine(run.out, "++++++++++++++++++++++Stop Song******************************"));
    // Every traced start has its release, and no error line was printed.
    EXPECT_TRUE(HasLine(run.out, "NoteOnOff = 0"));
    EXPECT_EQ(Count(run.out, "Error:"), 0u);
    EXPECT_GT(Count(run.out, ">>>>NOTE ON "), 0u);
    EXPECT_EQ(Count(run.out, ">>>>NOTE ON "), Count(run.out, "<<<<NOTE OFF "));
}

TEST(DemoSong, ListingUsesEveryControlCodeTiesRestsAndThreeTracks) {
    TempFolder folder;
    folder.Write("entertan.sng", ReadBytes(SONGSIM_DEMO_SONG));
    const std::string out = RunSongsimIn(folder).out;

    for (const char* prefix : {"\nKEY Signature:", "\nTempo:", "\nTime Signature:", "\nLoudness:", "\nRepeat START:"})
        EXPECT_NE(out.find(prefix), std::string::npos) << prefix;
    EXPECT_TRUE(HasLine(out, "Measure Bar 16"));
    EXPECT_TRUE(HasLine(out, "REPEAT end:"));
    EXPECT_TRUE(HasLine(out, "*******SONG END********"));
    EXPECT_NE(out.find(" TB:1 TE:0 R:0\n"), std::string::npos);
    EXPECT_NE(out.find(" TB:0 TE:1 R:0\n"), std::string::npos);
    EXPECT_NE(out.find(" TB:0 TE:0 R:1\n"), std::string::npos);
    for (const char* track : {" Track = 0 ", " Track = 1 ", " Track = 2 "})
        EXPECT_NE(out.find(track), std::string::npos) << track;
}

struct AsmRun {
    int status = -1;
    std::string err;
    bool wroteOutput = false;
    std::vector<uint8_t> bytes;
};

AsmRun RunAsmStrict(const TempFolder& folder, const std::string& source) {
    std::ofstream(folder.Path() + "/in.song") << source;
    const std::string out = folder.Path() + "/out.sng";
    const SongsimRun run = RunSongsim({.args = {"asm", "--strict", "in.song", "-o", "out.sng"}, .folder = folder.Path()});
    AsmRun result{run.status, run.err, std::filesystem::exists(out), {}};
    if (result.wroteOutput) result.bytes = ReadBytes(out);
    return result;
}

TEST(AsmStrict, CompilesHeaderAndEveryKindOfEvent) {
    TempFolder folder;
    const AsmRun run = RunAsmStrict(folder,
                                    "# a comment line\n"
                                    "title Mini  # trailing comment\n"
                                    "track 0 Lead 0 3 5 on\n"
                                    "track 2 Low 9 1 33 off\n"
                                    "\n"
                                    "key Bb tempo 120 time 3/4 loud 64\n"
                                    "bar repeat 1 0:q:C5+tb+acc 2:e.:rest\n"
                                    "0:q:C5+te 2:q:F#2\n"
                                    "0:h:Bb4 endrepeat\n"
                                    "end\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    SongWriter expected;
    expected.Title("Mini")
        .TrackName(0, "Lead")
        .ChanRange(0, 0x31)  // octave code 3, channel 0 + 1
        .Patch(0, 5)
        .TrackName(2, "Low")
        .ChanRange(2, 0x1A)  // octave code 1, channel 9 + 1
        .Patch(2, 33)
        .EnableMask(0x0001)  // track 0 on, track 2 off
        .Raw({
            0x80, 0x00, 0x0A,  // key Bb: code 10
            0x81, 0x78,        // tempo 120
            0x83, 0x04,        // time 3/4: code 4
            0x84, 0x00, 0x40,  // loud 64
            0x00,              // group end
            0x82,              // bar
            0x85, 0x01,        // repeat 1
            0x41, 0x2C, 0x3C,  // track 0 tie begin, quarter 12 + accent 0x20, C5 = 60
            0x13, 0x0B, 0x00,  // track 2 rest, dotted eighth 11, note 0
            0x00,              // group end
            0x21, 0x0C, 0x3C,  // track 0 tie end, quarter, C5
            0x03, 0x0C, 0x1E,  // track 2, quarter, F#2 = 30
            0x00,              // group end
            0x01, 0x0F, 0x3A,  // track 0, half 15, Bb4 = 58
            0x86,              // repeat end, ends its group: no 00
            0xFF,              // song end
        });
    EXPECT_EQ(run.bytes, expected.Bytes());
}

// Errors of the text name the line and the column (in.song:3:5:); a song
// that does not play cleanly is refused at the line of the group where the
// engine went wrong (in.song:4: ).
TEST(AsmStrict, RejectsBadInputWithItsLineNumber) {
    const std::string head = "title Bad\ntrack 0 Lead 0 3 0 on\n";  // lines 1 and 2
    struct Case {
        std::string body;  // starts at line 3
        std::string where;
        std::string what;
    };
    const Case cases[] = {
        {"0:q:H5\nend\n", ":3:", "bad pitch 'H5'"},
        {"0:q:C5\n0:q:D5 endrepeat 0:q:E5\nend\n", ":4:", "'endrepeat' must be the last event"},
        {"0:q:C5 end\n0:q:D5\n", ":4:", "nothing may follow 'end'"},
        {"0:x:C5\nend\n", ":3:", "unknown duration 'x'"},
        {"0:q:C5+tb\n0:q:D5\nend\n", ":4: ", "error 1 at tick 48, measure 0: note held past its end"},
        {"0:h:C5 1:q:E5+tb\n1:q:E5+te\nend\n", ":5: ", "the song end came while notes still sound"},
        {"0:q:C5\ntrack 1 Late 1 3 0 on\nend\n", ":4:", "must come before the first group"},
        {"0:q:C5\n", ":3: ", "the song has no 'end'"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const AsmRun run = RunAsmStrict(folder, head + c.body);
        EXPECT_EQ(run.status, 1) << c.body;
        EXPECT_FALSE(run.wroteOutput) << c.body;
        EXPECT_NE(run.err.find("in.song" + c.where), std::string::npos) << c.body << "\n" << run.err;
        EXPECT_NE(run.err.find(c.what), std::string::npos) << c.body << "\n" << run.err;
    }
}

}  // namespace
