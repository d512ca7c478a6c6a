// Many songs at once (FILE... -o DIR/) and render --stems, as a user runs
// them: a batch writes what each song made alone writes, byte for byte; it
// goes on past a song it cannot read and refuses, before writing anything,
// two songs of one name and an output that is an input; the stems of a song
// add up to its mix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCorpusDir = fs::path(__FILE__).parent_path().parent_path() / "corpus";

std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> ShortSong() {
    SongWriter song;
    song.Title("short").Track(0, "Piano", 0, 3, 0).Loudness(80).Note(0, 12, 60).EndGroup();
    return song.EndSong().Bytes();
}

// Three tracks that sound, one of them drums, one without a name and one
// whose name needs mending for a file name; and one that only rests.
std::vector<uint8_t> Quartet() {
    SongWriter song;
    song.Title("Four / Tracks").Track(0, "Lead Line", 0, 3, 0).Track(1, "", 1, 3, 32).Track(2, "Kit", 9, 3, 0);
    song.Track(3, "Quiet", 3, 3, 40);
    song.Tempo(140).Loudness(100).EndGroup();
    for (int bar = 0; bar < 4; ++bar) {
        song.Note(0, 12, 72 + bar).Note(1, 12, 40).Note(2, 9, 38).Rest(3, 12).EndGroup();
        song.Note(2, 9, 42).EndGroup();
        song.Note(0, 9, 76).Note(1, 12, 43).Note(2, 9, 38).EndGroup();
        song.Note(2, 9, 42).EndGroup();
    }
    return song.EndSong().Bytes();
}

// The 16-bit samples of a WAV file, interleaved.
std::vector<int16_t> WavSamples(const fs::path& path) {
    const std::string bytes = ReadFile(path).value_or("");
    EXPECT_GE(bytes.size(), 12u) << path;
    size_t at = 12;  // past "RIFF", the size and "WAVE"
    while (at + 8 <= bytes.size()) {
        uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at, 4, "data") == 0) {
            std::vector<int16_t> samples(std::min<size_t>(size, bytes.size() - at - 8) / 2);
            std::memcpy(samples.data(), bytes.data() + at + 8, samples.size() * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    ADD_FAILURE() << path << ": no data chunk";
    return {};
}

std::string Summary(size_t songs, size_t written) {
    return "songsim: " + std::to_string(songs) + " songs: " + std::to_string(written) + " written, " +
           std::to_string(songs - written) + " failed\n";
}

}  // namespace

// Every song of the corpus and the demo song, made in one batch two at a
// time, is the same file as made alone; the songs that cannot be read are
// made by neither, and the summary counts them.
TEST(Batch, OverTheCorpusEachOutputIsTheSongMadeAlone) {
    const TempFolder folder;
    const fs::path root = folder.Path();
    fs::create_directory(root / "songs");
    std::vector<std::string> songs;
    for (const auto& entry : fs::directory_iterator(kCorpusDir))
        if (entry.path().extension() == ".sng") songs.push_back(entry.path().stem().string());
    songs.push_back("entertan");
    std::ranges::sort(songs);
    for (const std::string& song : songs)
        fs::copy_file(song == "entertan" ? fs::path(SONGSIM_DEMO_SONG) : kCorpusDir / (song + ".sng"),
                      root / "songs" / (song + ".sng"));
    ASSERT_GE(songs.size(), 25u);

    const struct {
        std::string command;
        std::string extension;
    } kinds[] = {{"midi", ".mid"}, {"render", ".wav"}, {"draw", ".svg"}, {"dis", ".song"}};
    for (const auto& [command, extension] : kinds) {
        const fs::path alone = root / (command + "-alone");
        fs::create_directory(alone);
        std::vector<std::string> batch = {command};
        size_t written = 0;
        for (const std::string& song : songs) {
            RunSongsim({.args = {command, "songs/" + song + ".sng", "-o", (alone / (song + extension)).string()},
                        .folder = folder.Path()});
            written += fs::exists(alone / (song + extension));
            batch.push_back("songs/" + song + ".sng");
        }
        const std::vector<std::string> tail = {"-o", command + "-batch/", "-j", "2"};
        batch.insert(batch.end(), tail.begin(), tail.end());
        const SongsimRun run = RunSongsim({.args = batch, .folder = folder.Path()});
        EXPECT_EQ(run.status, written == songs.size() ? 0 : 1) << command;
        EXPECT_TRUE(run.err.ends_with(Summary(songs.size(), written))) << command << ": " << run.err;
        EXPECT_EQ(run.out, "") << command;
        for (const std::string& song : songs) {
            const auto made = ReadFile(root / (command + "-batch") / (song + extension));
            const auto expected = ReadFile(alone / (song + extension));
            EXPECT_EQ(made.has_value(), expected.has_value()) << command << " " << song;
            if (made && expected) {
                EXPECT_TRUE(*made == *expected) << command << " " << song << ": other bytes";
            }
        }
    }
}

// A song that cannot be read fails alone and the others are made; two songs
// of one name, or an output that would be an input, stop the batch before it
// writes anything; and the command lines a batch cannot make sense of are
// misuse.
TEST(Batch, GoesOnPastABadSongAndRefusesClashesBeforeWriting) {
    const TempFolder folder;
    const fs::path root = folder.Path();
    folder.Write("a.sng", ShortSong());
    folder.Write("bad.sng", Bytes("not a song"));
    fs::create_directory(root / "other");
    folder.Write("other/a.sng", ShortSong());
    folder.Write("x.mid", ShortSong());

    const SongsimRun bad = RunSongsim({.args = {"midi", "a.sng", "bad.sng", "-o", "out/"}, .folder = folder.Path()});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("songsim: bad.sng: file of 10 bytes"), std::string::npos) << bad.err;
    EXPECT_TRUE(bad.err.ends_with("songsim: 2 songs: 1 written, 1 failed\n")) << bad.err;
    EXPECT_TRUE(fs::exists(root / "out/a.mid"));
    EXPECT_FALSE(fs::exists(root / "out/bad.mid"));

    const SongsimRun clash =
        RunSongsim({.args = {"render", "a.sng", "other/a.sng", "-o", "clash/"}, .folder = folder.Path()});
    EXPECT_EQ(clash.status, 2);
    EXPECT_EQ(clash.err, "songsim: a.sng and other/a.sng would both be written to clash/a.wav; nothing written\n");
    EXPECT_FALSE(fs::exists(root / "clash"));

    const std::string song = ReadFile(root / "x.mid").value_or("");
    const SongsimRun over = RunSongsim({.args = {"midi", "a.sng", "x.mid", "-o", "./"}, .folder = folder.Path()});
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.err, "songsim: ./x.mid: is the input file; not written over\n");
    EXPECT_EQ(ReadFile(root / "x.mid"), song);
    EXPECT_FALSE(fs::exists(root / "a.mid"));

    const struct {
        std::vector<std::string> args;
        std::string message;
    } misuse[] = {
        {{"midi", "a.sng", "bad.sng", "-o", "one.mid"}, "2 songs are written into a folder: give -o DIR/"},
        {{"dis", "a.sng", "bad.sng"}, "2 songs are written into a folder: give -o DIR/"},
        {{"draw", "-", "a.sng", "-o", "pictures/"}, "-: standard input has no name"},
        {{"render", "a.sng", "-o", "a.wav", "--format", "flac"}, "--format names the format"},
        {{"render", "a.sng", "bad.sng", "--stems", "stems/"}, "--stems makes the stems of one song"},
        {{"render", "a.sng"}, "--output is required, or --stems DIR/"},
        {{"midi", "a.sng", "-o", "x/", "-j", "0"}, "-j"},
        {{"midi", "a.sng", "-o", "a.mid", "--tracks", "15"}, "give track numbers 0 to 14"},
        {{"draw", "a.sng", "-o", "a.svg", "--tracks", "0", "--mute", "1"}, "excludes"},
    };
    for (const auto& [args, message] : misuse) {
        const SongsimRun run = RunSongsim({.args = args, .folder = folder.Path()});
        EXPECT_EQ(run.status, 2) << args[1] << " " << args.back();
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(root / "pictures"));
    EXPECT_FALSE(fs::exists(root / "stems"));
}

// One file per track that sounds, named after the title, the track number
// and the name made safe, all of the mix's length; added up sample by sample
// they are the mix to within the rounding of each file to 16 bits (half a
// step each, the stems' and the mix's: (K + 1) / 2 for K stems). A stem is
// also what --tracks renders of its track alone.
TEST(Batch, StemsAddUpToTheMix) {
    const TempFolder folder;
    const fs::path root = folder.Path();
    folder.Write("quartet.sng", Quartet());
    fs::copy_file(SONGSIM_DEMO_SONG, root / "entertan.sng");
    const struct {
        std::string song;
        std::string title;
        std::vector<std::pair<int, std::string>> stems;
    } cases[] = {
        {"quartet.sng", "Four_Tracks", {{0, "-00-Lead_Line"}, {1, "-01"}, {2, "-02-Kit"}}},
        {"entertan.sng", "Tick_Tock_Rag", {{0, "-00-Melody"}, {1, "-01-Bass"}, {2, "-02-Chords"}}},
    };
    for (const auto& [song, title, stems] : cases) {
        const std::string dir = "stems-" + song + "/";
        const SongsimRun run = RunSongsim({.args = {"render", song, "--stems", dir}, .folder = folder.Path()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(root / dir), fs::directory_iterator()), 4) << song;

        const std::vector<int16_t> mix = WavSamples(root / dir / (title + ".wav"));
        ASSERT_FALSE(mix.empty()) << song;
        EXPECT_EQ(ReadFile(root / dir / (title + ".wav")), [&] {
            RunSongsim({.args = {"render", song, "-o", "mix.wav"}, .folder = folder.Path()});
            return ReadFile(root / "mix.wav");
        }()) << song << ": the mix is not the render";
        std::vector<int64_t> sum(mix.size());
        for (const auto& [track, suffix] : stems) {
            const fs::path path = root / dir / (title + suffix + ".wav");
            const std::vector<int16_t> stem = WavSamples(path);
            ASSERT_EQ(stem.size(), mix.size()) << path;
            for (size_t i = 0; i < stem.size(); ++i) sum[i] += stem[i];
            const std::string alone = "track" + std::to_string(track) + ".wav";
            RunSongsim({.args = {"render", song, "--tracks", std::to_string(track), "-o", alone}, .folder = folder.Path()});
            EXPECT_TRUE(ReadFile(root / alone) == ReadFile(path)) << path << " is not --tracks " << track;
        }
        int64_t worst = 0;
        double total = 0;
        for (size_t i = 0; i < mix.size(); ++i) {
            worst = std::max(worst, std::abs(sum[i] - mix[i]));
            total += static_cast<double>(std::abs(sum[i] - mix[i]));
        }
        EXPECT_LE(worst, static_cast<int64_t>(stems.size() + 1) / 2) << song;
        EXPECT_LT(total / static_cast<double>(mix.size()), 1.0) << song;
    }
}
