// `songsim dis` and `songsim asm` through the real binary: files and standard
// streams, refusing to write over the input, and no partial output on error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// songsim in `folder` with `args`, and `input` on standard input.
SongsimRun RunIn(const TempFolder& folder, std::vector<std::string> args, const std::string* input = nullptr) {
    return RunSongsim({.args = std::move(args), .folder = folder.Path(), .input = input});
}

std::vector<uint8_t> SmallSong() {
    SongWriter song;
    song.Title("Round").Track(0, "Lead", 0, 3, 0).MeasureBar().Note(0, 12, 60).EndGroup().EndSong().Raw({0x42});
    return song.Bytes();
}

TEST(SourceCli, DisAndAsmThroughFilesAndStandardStreams) {
    TempFolder folder;
    const std::vector<uint8_t> song = SmallSong();
    folder.Write("song.sng", song);
    const std::string bytes(song.begin(), song.end());

    const SongsimRun dis = RunIn(folder, {"dis", "song.sng"});
    ASSERT_EQ(dis.status, 0) << dis.err;
    EXPECT_EQ(dis.err, "");
    EXPECT_NE(dis.out.find("\nbar 0:q:C5"), std::string::npos) << dis.out;
    EXPECT_EQ(RunIn(folder, {"dis", "-"}, &bytes).out, dis.out);

    const SongsimRun assembled = RunIn(folder, {"asm", "-", "-o", "copy.sng"}, &dis.out);
    ASSERT_EQ(assembled.status, 0) << assembled.err;
    EXPECT_EQ(ReadFile(folder.Path() + "/copy.sng"), bytes);

    ASSERT_EQ(RunIn(folder, {"dis", "copy.sng", "-o", "copy.song"}).status, 0);
    EXPECT_EQ(ReadFile(folder.Path() + "/copy.song"), dis.out);
}

TEST(SourceCli, NeverWritesOverTheInputNorLeavesAPartialFile) {
    TempFolder folder;
    folder.Write("song.sng", SmallSong());
    const std::string source = "title Kept\nend\n";
    std::ofstream(folder.Path() + "/in.song") << source;
    std::ofstream(folder.Path() + "/out.sng") << "old";

    const SongsimRun overDis = RunIn(folder, {"dis", "song.sng", "-o", "./song.sng"});
    EXPECT_EQ(overDis.status, 1);
    EXPECT_EQ(overDis.err, "songsim: ./song.sng: is the input file; not written over\n");
    const SongsimRun overAsm = RunIn(folder, {"asm", "in.song", "-o", "in.song"});
    EXPECT_EQ(overAsm.status, 1);
    EXPECT_EQ(ReadFile(folder.Path() + "/in.song"), source);

    std::ofstream(folder.Path() + "/bad.song") << "title Bad\nbar 0:q:C5\n0:q:C99\n";
    const SongsimRun bad = RunIn(folder, {"asm", "bad.song", "-o", "out.sng"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "bad.song:3:5: bad pitch 'C99' (like C5, F#4, Bb3; C5 is 60, up to G10)\n");
    EXPECT_EQ(ReadFile(folder.Path() + "/out.sng"), "old");
    // Nothing but what the test wrote: no temporary file stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 4);
}

TEST(SourceCli, BadFilesAndUsage) {
    TempFolder folder;
    folder.Write("short.sng", std::vector<uint8_t>(10, 0));
    const SongsimRun shortFile = RunIn(folder, {"dis", "short.sng"});
    EXPECT_EQ(shortFile.status, 1);
    EXPECT_EQ(shortFile.err, "songsim: short.sng: file of 10 bytes is shorter than the 520-byte header\n");
    EXPECT_EQ(shortFile.out, "");
    const SongsimRun missing = RunIn(folder, {"asm", "none.song", "-o", "out.sng"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "songsim: none.song: No such file or directory\n");
    EXPECT_EQ(RunIn(folder, {"asm", "none.song"}).status, 2);  // no -o
}

}  // namespace
