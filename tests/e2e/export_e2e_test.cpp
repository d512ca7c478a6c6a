// songsim midi and render as a user runs them: every bad input gets a message
// naming its path and status 1 (2 for usage), and leaves no file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

std::vector<uint8_t> ShortSong() {
    SongWriter song;
    song.Title("short").Track(0, "Piano", 0, 3, 0).Loudness(80).Note(0, 12, 60).EndGroup();
    return song.EndSong().Bytes();
}

auto FileCount(const TempFolder& folder) {
    return std::distance(std::filesystem::directory_iterator(folder.Path()), std::filesystem::directory_iterator());
}

}  // namespace

TEST(ExportCommands, RefuseBadInputWithTheirPathAndWriteNothing) {
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"midi", "song.sng"}, 2, "--output is required"},
        {{"midi", "song.sng", "-o", "missing/out.mid"}, 1, "songsim: missing/out.mid: cannot create"},
        {{"midi", "song.sng", "-o", "song.sng"}, 1, "songsim: song.sng: is the input file; not written over"},
        {{"midi", "nosuch.sng", "-o", "out.mid"}, 1, "songsim: nosuch.sng: No such file"},
        {{"midi", "broken.sf2", "-o", "out.mid"}, 1, "songsim: broken.sf2: file of 12 bytes"},
        {{"render", "song.sng", "-o", "out.mp3"}, 2, "out.mp3: not an audio file name"},
        {{"render", "song.sng", "-o", "out.wav", "--rate", "100"}, 2, "--rate"},
        {{"render", "song.sng", "-o", "out.wav", "--soundfont", "nosuch.sf2"}, 1, "songsim: nosuch.sf2: No such file"},
        {{"render", "song.sng", "-o", "out.wav", "--soundfont", "song.sng"}, 1, "songsim: song.sng: not a soundfont"},
        {{"render", "song.sng", "-o", "out.wav", "--soundfont", "broken.sf2"}, 1,
         "songsim: broken.sf2: cannot load the soundfont"},
    };
    for (const auto& [args, status, message] : cases) {
        const TempFolder folder;
        folder.Write("song.sng", ShortSong());
        folder.Write("broken.sf2", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 's', 'f', 'b', 'k'});
        const SongsimRun run = RunSongsim({.args = args, .folder = folder.Path()});
        const std::string command = args[0] + " " + args.back();
        EXPECT_EQ(run.status, status) << command;
        EXPECT_NE(run.err.find(message), std::string::npos) << command << ": " << run.err;
        EXPECT_EQ(FileCount(folder), 2) << command << ": a file was left behind";
    }
}
