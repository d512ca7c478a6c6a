// songsim midi and render as a user runs them: every bad input gets a message
// naming its path and status 1 (2 for usage), and leaves no file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

std::vector<std::string> FilesIn(const TempFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        names.push_back(entry.path().filename().string());
    return names;
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
        {{"midi", "song.sng", "-o", "song.sng"}, 1, "songsim: song.sng: is the song being read"},
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
        EXPECT_EQ(FilesIn(folder).size(), 2u) << command << ": a file was left behind";
    }
}

TEST(ExportCommands, ReadTheSongFromStandardInput) {
    const TempFolder folder;
    const std::vector<uint8_t> bytes = ShortSong();
    const std::string song(bytes.begin(), bytes.end());
    const struct {
        const char* command;
        const char* output;
        const char* magic;
    } cases[] = {{"midi", "out.mid", "MThd"}, {"render", "out.wav", "RIFF"}};
    for (const auto& [command, output, magic] : cases) {
        const SongsimRun run = RunSongsim({.args = {command, "-", "-o", output}, .folder = folder.Path(), .input = &song});
        EXPECT_EQ(run.status, 0) << run.err;
        std::ifstream file(folder.Path() + "/" + output, std::ios::binary);
        std::string start(4, '\0');
        file.read(start.data(), 4);
        EXPECT_EQ(start, magic) << command;
    }
}
