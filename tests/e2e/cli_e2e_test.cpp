// The command line as a user meets it: play any file (or standard input)
// exactly as the bare run plays entertan.sng, check one file or many (each
// as if alone), misuse, output that cannot be written, and diagnostics in
// their place among the output lines.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;
const fs::path kCorpus = fs::path(__FILE__).parent_path().parent_path() / "corpus";

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Songs of every verdict, written into a folder.
class Songs {
public:
    Songs() {
        Add("clean.sng", ReadFile(SONGSIM_DEMO_SONG));
        Add("errors.sng", ReadFile(kCorpus / "over_16_notes.sng"));
        Add("stopped.sng", ReadFile(kCorpus / "random_bytes.sng"));
        Add("damaged.sng", ReadFile(kCorpus / "cut_note_after_1.sng"));
        names_.push_back("missing.sng");
    }
    const std::string& Folder() const { return folder_.Path(); }
    const std::vector<std::string>& Names() const { return names_; }

private:
    void Add(const std::string& name, const std::string& bytes) {
        folder_.Write(name, Bytes(bytes));
        names_.push_back(name);
    }
    TempFolder folder_;
    std::vector<std::string> names_;
};

TEST(Cli, PlayIsTheBareRunOnAnyFileOrStandardInput) {
    std::vector<fs::path> songs = {SONGSIM_DEMO_SONG};
    for (const char* name : {"random_bytes", "cut_key_after_2", "over_16_notes", "empty_stream", "truncated_header"})
        songs.push_back(kCorpus / (std::string(name) + ".sng"));
    for (const fs::path& song : songs) {
        SCOPED_TRACE(song);
        const std::string bytes = ReadFile(song);
        const SongsimRun bare = RunSongsimOn(Bytes(bytes));
        const SongsimRun play = RunSongsim({.args = {"play", song.string()}});
        const SongsimRun shorthand = RunSongsim({.args = {song.string()}});
        const SongsimRun piped = RunSongsim({.args = {"play", "-"}, .input = &bytes});
        for (const SongsimRun* run : {&play, &shorthand, &piped}) {
            EXPECT_EQ(run->out, bare.out);
            EXPECT_EQ(run->status, bare.status);
        }
        // Diagnostics name the file they are about.
        if (!bare.err.empty()) {
            EXPECT_EQ(play.err.find("songsim: " + song.string() + ": "), 0u) << play.err;
            EXPECT_EQ(piped.err.find("songsim: standard input: "), 0u) << piped.err;
        }
    }
}

TEST(Cli, CheckOfABatchGivesEachFileWhatItGetsAlone) {
    const Songs songs;
    std::vector<std::string> args = {"check", "--json"};
    args.insert(args.end(), songs.Names().begin(), songs.Names().end());
    const SongsimRun batch = RunSongsim({.args = args, .folder = songs.Folder()});
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.err, "");

    std::string alone;
    for (const std::string& name : songs.Names()) {
        const SongsimRun run = RunSongsim({.args = {"check", "--json", name}, .folder = songs.Folder()});
        EXPECT_EQ(run.status, name == "clean.sng" ? 0 : 1) << name;
        alone += run.out;
    }
    EXPECT_EQ(batch.out, alone);

    // One JSON object a line, each with the fields scripts rely on.
    std::istringstream lines(batch.out);
    std::vector<std::string> statuses;
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json object = nlohmann::json::parse(line);
        statuses.push_back(object.at("status"));
        if (object["status"] == "unreadable") continue;
        for (const char* key : {"file", "title", "ticks", "seconds", "measures", "notes", "peakSlots", "tracks",
                                "errors", "stop", "damage"})
            EXPECT_TRUE(object.contains(key)) << key << " in " << line;
    }
    EXPECT_EQ(statuses, (std::vector<std::string>{"clean", "errors", "stopped", "damaged", "unreadable"}));

    // The report a person reads goes on past the unreadable file to the end.
    const SongsimRun text = RunSongsim({.args = {"check", "missing.sng", "clean.sng"}, .folder = songs.Folder()});
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("missing.sng: unreadable: No such file or directory\n"), std::string::npos) << text.out;
    EXPECT_TRUE(text.out.ends_with("2 files: 1 clean, 0 damaged, 0 with errors, 0 stopped, 1 unreadable\n")) << text.out;
}

TEST(Cli, CheckReadsStandardInput) {
    const std::string demo = ReadFile(SONGSIM_DEMO_SONG);
    const SongsimRun run = RunSongsim({.args = {"check", "-"}, .input = &demo});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("-: clean\n  title    Tick Tock Rag\n")) << run.out;
    const std::string empty;
    const SongsimRun nothing = RunSongsim({.args = {"check", "-"}, .input = &empty});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.out, "-: unreadable: file of 0 bytes is shorter than the 520-byte header\n");
}

TEST(Cli, MisuseIsOneLineWithAHintAndStatus2) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--frobnicate"}, {"check"}, {"play"}, {"play", "a.sng", "b.sng"}, {"check", "--jason", "a.sng"}}) {
        const SongsimRun run = RunSongsim({.args = args});
        SCOPED_TRACE(args.front());
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with("songsim: ")) << run.err;
        EXPECT_TRUE(run.err.ends_with("(see 'songsim --help')\n")) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(RunSongsim({.args = {"--help"}}).status, 0);
    const SongsimRun version = RunSongsim({.args = {"--version"}});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("songsim ")) << version.out;
}

TEST(Cli, OutputThatCannotBeWrittenIsAFailure) {
    TempFolder folder;
    folder.Write("entertan.sng", Bytes(ReadFile(SONGSIM_DEMO_SONG)));
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"check", "entertan.sng"}, {"check", "--json", "entertan.sng"}}) {
        const SongsimRun run = RunSongsim({.args = args, .folder = folder.Path(), .outFile = "/dev/full"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "songsim: cannot write the output: No space left on device\n");
    }
}

TEST(Cli, DiagnosticsLandAfterTheLinesPrintedBeforeThem) {
    // A stream cut in its last event: the message comes from the last parse
    // call, after every line of the parse and before its DONE banner.
    const std::string song = ReadFile(kCorpus / "cut_note_after_1.sng");
    const SongsimRun apart = RunSongsim({.args = {"play", "-"}, .input = &song});
    const SongsimRun merged = RunSongsim({.args = {"play", "-"}, .input = &song, .mergeErr = true});
    const size_t done = apart.out.find("******************** PARSE cut_note_after_1 DONE");
    ASSERT_NE(done, std::string::npos);
    EXPECT_EQ(merged.out, apart.out.substr(0, done) + apart.err + apart.out.substr(done));

    TempFolder empty;
    const SongsimRun missing = RunSongsim({.folder = empty.Path(), .mergeErr = true});
    EXPECT_EQ(missing.out,
              "Size of SEVENT = 32\n"
              "songsim: entertan.sng: No such file or directory\n"
              "Could not open file\n");
}

}  // namespace
