// songsim diff as scripts use it: status 0 the same, 1 different, 2 trouble;
// the report on standard output, a failure named on standard error; a
// picture written whole, never over an input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

// With a third note, a pitch of `thirdNote`.
std::vector<uint8_t> Song(int secondNote, int thirdNote = 0) {
    SongWriter song;
    song.Title("pair").Track(0, "Piano", 0, 3, 0).Track(1, "Bass", 1, 2, 32).Loudness(80);
    song.Note(0, 12, 60).Note(1, 12, 36).EndGroup();
    song.Note(0, 12, secondNote).EndGroup();
    if (thirdNote) song.Note(0, 12, thirdNote).EndGroup();
    return song.EndSong().Bytes();
}

std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(DiffCommand, ExitsAsCmpDoesAndSaysWhy) {
    const TempFolder folder;
    folder.Write("a.sng", Song(62));
    folder.Write("copy.sng", Song(62));
    folder.Write("b.sng", Song(64));
    std::vector<uint8_t> cut = Song(64);
    cut.pop_back();  // no song end: damaged, played up to where it ends
    folder.Write("cut.sng", cut);
    folder.Write("bad.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1});
    const std::string b = Read(folder.Path() + "/b.sng");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;  // found in standard output
        std::string err;  // found in standard error
    } cases[] = {
        {{"diff", "a.sng", "copy.sng"}, 0, "same\n", ""},
        {{"diff", "a.sng", "b.sng"}, 1, "tick 47, measure 0, track 0 Piano: D5 re-pitched to E5\n", ""},
        {{"diff", "a.sng", "-"}, 1, "B        standard input: song \"pair\", 3 notes, clean\n", ""},
        {{"diff", "a.sng", "cut.sng"}, 1, "compared up to where it plays", ""},
        {{"diff", "a.sng", "bad.mid"}, 2, "", "songsim: bad.mid: invalid MIDI data (offset 0x8)"},
        {{"diff", "a.sng", "nosuch.sng"}, 2, "", "songsim: nosuch.sng: No such file"},
        {{"diff", "-", "-"}, 2, "", "can be only one"},
        {{"diff", "a.sng", "b.sng", "-o", "b.sng"}, 2, "", "b.sng: is the input file"},
        {{"diff", "a.sng"}, 2, "", "required"},
    };
    for (const auto& [args, status, out, err] : cases) {
        const SongsimRun run = RunSongsim({.args = args, .folder = folder.Path(), .input = &b});
        const std::string command = args.back();
        EXPECT_EQ(run.status, status) << command << ": " << run.err;
        EXPECT_NE(run.out.find(out), std::string::npos) << command << ": " << run.out;
        EXPECT_NE(run.err.find(err), std::string::npos) << command << ": " << run.err;
    }
    EXPECT_EQ(Read(folder.Path() + "/b.sng"), b);
}

TEST(DiffCommand, GivesJsonAndAPictureOfBoth) {
    const TempFolder folder;
    folder.Write("a.sng", Song(62));
    folder.Write("b.sng", Song(64));
    const SongsimRun run =
        RunSongsim({.args = {"diff", "--json", "a.sng", "b.sng", "-o", "diff.html"}, .folder = folder.Path()});
    ASSERT_EQ(run.status, 1) << run.err;
    const nlohmann::json json = nlohmann::json::parse(run.out);
    EXPECT_FALSE(json["same"]);
    EXPECT_EQ(json["firstDifference"]["tick"], 47);
    EXPECT_EQ(json["counts"]["repitched"], 1);
    EXPECT_EQ(json["counts"]["matched"], 2);
    ASSERT_EQ(json["differences"].size(), 1u);
    EXPECT_EQ(json["differences"][0]["a"]["pitch"], 62);
    EXPECT_EQ(json["differences"][0]["b"]["pitch"], 64);
    EXPECT_DOUBLE_EQ(json["score"]["precision"].get<double>(), 2.0 / 3);
    const std::string page = Read(folder.Path() + "/diff.html");
    EXPECT_NE(page.find("class=\"a\""), std::string::npos);
    EXPECT_NE(page.find("class=\"b\""), std::string::npos);
    EXPECT_NE(page.find("first difference: tick 47"), std::string::npos);
    EXPECT_NE(page.find("a.sng: song"), std::string::npos);  // the report's header lines
    EXPECT_NE(page.find("b.sng: song"), std::string::npos);
    EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
}

// The notes both hold drawn plain and filling their row, A's differing
// notes too, B's inside theirs; the first difference marked where there is
// one; the report's header lines but not its limit, which the report has
// only past the limit.
TEST(DiffCommand, DrawsEveryNoteOnceAndBsInsideTheRow) {
    const TempFolder folder;
    folder.Write("a.sng", Song(62));
    folder.Write("b.sng", Song(64));
    folder.Write("c.sng", Song(62, 67));
    struct Case {
        std::string a, b;
        int same, onlyA, onlyB;
    };
    for (const auto& [a, b, same, onlyA, onlyB] : {Case{"a.sng", "b.sng", 2, 1, 1}, Case{"a.sng", "c.sng", 3, 0, 1},
                                                   Case{"c.sng", "a.sng", 3, 1, 0}, Case{"a.sng", "a.sng", 3, 0, 0}}) {
        const SongsimRun run = RunSongsim({.args = {"diff", a, b, "-o", "diff.html"}, .folder = folder.Path()});
        ASSERT_EQ(run.status, a == b ? 0 : 1) << a << " " << b << run.err;
        const std::string page = Read(folder.Path() + "/diff.html");
        const auto rects = [&page](const std::string& kind) {
            std::vector<int> heights;
            const std::regex rect("<rect class=\"" + kind + "\"[^>]* height=\"(\\d+)\"");
            for (auto m = std::sregex_iterator(page.begin(), page.end(), rect); m != std::sregex_iterator(); ++m)
                heights.push_back(std::stoi((*m)[1]));
            return heights;
        };
        const std::vector<int> plain = rects("same"), ofA = rects("a"), ofB = rects("b");
        EXPECT_EQ(plain.size(), static_cast<size_t>(same)) << a << " " << b;
        EXPECT_EQ(ofA.size(), static_cast<size_t>(onlyA)) << a << " " << b;
        ASSERT_EQ(ofB.size(), static_cast<size_t>(onlyB)) << a << " " << b;
        for (const int height : ofA) EXPECT_EQ(height, plain[0]);
        for (const int height : ofB) EXPECT_TRUE(height > 0 && height < plain[0]) << height;
        EXPECT_EQ(page.find("class=\"first\"") != std::string::npos, a != b) << a << " " << b;
        EXPECT_EQ(page.find("<p>..."), std::string::npos);
        // Nor has the report, all of its differences within the limit.
        EXPECT_EQ(RunSongsim({.args = {"diff", a, b}, .folder = folder.Path()}).out.find("..."), std::string::npos);
    }
}

// A measure that starts where the last note ends has its line, at the
// picture's right edge: a MIDI file's 4/4 of four quarters, as written.
TEST(DiffCommand, DrawsAMeasureStartingAtTheEnd) {
    const TempFolder folder;
    SongWriter song;
    song.Track(0, "Piano", 0, 3, 0).Loudness(80);
    for (int i = 0; i < 4; ++i) song.Note(0, 12, 60).EndGroup();
    folder.Write("a.sng", song.EndSong().Bytes());
    ASSERT_EQ(RunSongsim({.args = {"midi", "--as-written", "a.sng", "-o", "a.mid"}, .folder = folder.Path()}).status, 0);
    ASSERT_EQ(RunSongsim({.args = {"diff", "a.mid", "a.mid", "-o", "diff.html"}, .folder = folder.Path()}).status, 0);
    const std::string page = Read(folder.Path() + "/diff.html");
    size_t lines = 0;
    for (size_t at = page.find("class=\"bar\""); at != std::string::npos; at = page.find("class=\"bar\"", at + 1)) ++lines;
    EXPECT_EQ(lines, 2u) << page.substr(page.find("<svg"));
}
