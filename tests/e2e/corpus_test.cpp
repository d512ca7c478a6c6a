// The regression corpus of malformed songs (tests/corpus, made by
// tests/corpus/make_corpus.sh): the real songsim runs on each song as
// entertan.sng, and its standard output, standard error and exit status must
// equal, byte for byte, the expectations committed beside the song
// (NAME.out, NAME.err, NAME.status).
//
// Songs whose stream is cut inside an event or ends without the song-end code
// must also play exactly like the well-formed song made of the same bytes
// with 0xFF put where the stream was cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The corpus sits beside this folder in the source tree.
const fs::path kCorpusDir = fs::path(__FILE__).parent_path().parent_path() / "corpus";

std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Bytes ReadSong(const std::string& name) {
    const auto text = ReadFile(kCorpusDir / (name + ".sng"));
    EXPECT_TRUE(text.has_value()) << "missing " << name << ".sng in " << kCorpusDir;
    return text ? Bytes(text->begin(), text->end()) : Bytes{};
}

void ExpectRunAsCommitted(const SongsimRun& run, const std::string& name) {
    const auto out = ReadFile(kCorpusDir / (name + ".out"));
    const auto err = ReadFile(kCorpusDir / (name + ".err"));
    const auto status = ReadFile(kCorpusDir / (name + ".status"));
    ASSERT_TRUE(out && err && status) << "missing expectations of " << name << " in " << kCorpusDir;
    EXPECT_EQ(run.out, *out) << name;
    EXPECT_EQ(run.err, *err) << name;
    EXPECT_EQ(std::to_string(run.status) + "\n", *status) << name;
}

// Every song of the corpus; each must be here, so that a song added to the
// folder (an input the fuzzer found) cannot go untested.
const std::vector<std::string> kCorpusSongs = {
    // loads that fail
    "truncated_header", "zero_length",
    // streams cut inside an event
    "cut_key_after_1", "cut_key_after_2", "cut_tempo", "cut_time", "cut_loudness_after_1", "cut_loudness_after_2",
    "cut_repeat_start", "cut_note_after_1", "cut_note_after_2",
    // streams without the song-end code
    "no_song_end", "no_song_end_in_group", "empty_stream",
    // values outside their tables or ranges
    "tempo_zero", "duration_out_of_range", "key_out_of_range", "time_out_of_range", "track_zero_new_note",
    "track_zero_tie_end", "over_16_notes", "octave_out_of_range", "title_without_zero",
    // a whole file of random bytes
    "random_bytes",
};

class CorpusSong : public testing::TestWithParam<std::string> {};

TEST_P(CorpusSong, RunsExactlyAsCommitted) {
    const std::string& name = GetParam();
    const Bytes song = ReadSong(name);
    ExpectRunAsCommitted(RunSongsimOn(song), name);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusSong, testing::ValuesIn(kCorpusSongs),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(CorpusFolder, EverySongIsRunAndHasItsExpectations) {
    ASSERT_TRUE(fs::is_directory(kCorpusDir)) << kCorpusDir;
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(kCorpusDir)) {
        if (entry.path().extension() == ".sng") found.push_back(entry.path().stem().string());
    }
    std::vector<std::string> listed = kCorpusSongs;
    std::sort(found.begin(), found.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(found, listed);
    for (const std::string& name : found) {
        for (const char* suffix : {".out", ".err", ".status"}) {
            EXPECT_TRUE(fs::is_regular_file(kCorpusDir / (name + suffix))) << name << suffix;
        }
    }
}

TEST(CorpusFolder, DirectoryNamedLikeTheSongIsNotLoaded) {
    TempFolder folder;
    ASSERT_TRUE(fs::create_directory(fs::path(folder.Path()) / "entertan.sng"));
    ExpectRunAsCommitted(RunSongsimIn(folder), "directory_as_song");
}

// A stream that ends early: where its last whole event ends, that is the
// first byte of the cut event, or the end of the file when the stream stops
// between events.
struct CutStream {
    const char* name;
    size_t streamEnd;
};

const CutStream kCutStreams[] = {
    {"cut_key_after_1", 0x20c},      {"cut_key_after_2", 0x20d},  {"cut_tempo", 0x20e},
    {"cut_time", 0x20e},             {"cut_loudness_after_1", 0x20c}, {"cut_loudness_after_2", 0x20f},
    {"cut_repeat_start", 0x20f},     {"cut_note_after_1", 0x20c}, {"cut_note_after_2", 0x20d},
    {"no_song_end", 0x20c},          {"no_song_end_in_group", 0x20b}, {"empty_stream", 0x208},
    {"random_bytes", 0x22f},
};

std::string Hex(size_t offset) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%zx", offset);
    return text;
}

class CutStreamSong : public testing::TestWithParam<CutStream> {};

TEST_P(CutStreamSong, PlaysLikeTheSongEndedWhereTheStreamStops) {
    const CutStream& cut = GetParam();
    const Bytes song = ReadSong(cut.name);
    ASSERT_LE(cut.streamEnd, song.size());
    ASSERT_GE(cut.streamEnd, size_t{520});

    Bytes ended(song.begin(), song.begin() + static_cast<std::ptrdiff_t>(cut.streamEnd));
    ended.push_back(0xFF);
    const SongsimRun cutRun = RunSongsimOn(song);
    const SongsimRun endedRun = RunSongsimOn(ended);

    EXPECT_EQ(cutRun.out, endedRun.out);
    EXPECT_EQ(cutRun.status, endedRun.status);
    EXPECT_EQ(endedRun.err, "");
    // One line on standard error, naming where the stream stops and, for an
    // event cut short, where the file ends.
    EXPECT_EQ(std::count(cutRun.err.begin(), cutRun.err.end(), '\n'), 1) << cutRun.err;
    EXPECT_NE(cutRun.err.find("offset " + Hex(cut.streamEnd)), std::string::npos) << cutRun.err;
    if (cut.streamEnd < song.size()) {
        EXPECT_NE(cutRun.err.find("offset " + Hex(song.size())), std::string::npos) << cutRun.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CutStreamSong, testing::ValuesIn(kCutStreams),
                         [](const testing::TestParamInfo<CutStream>& info) { return std::string(info.param.name); });

}  // namespace
