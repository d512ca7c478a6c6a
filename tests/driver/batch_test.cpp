// The batch's own rules, run in-process: the bytes a file name keeps, a
// folder that cannot be made, and workers that die while making a job.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "driver/batch.h"
#include "output/output.h"
#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;

// Everything written on standard error while `body` runs.
std::string StandardError(const std::function<void()>& body) {
    std::fflush(stderr);
    std::FILE* file = std::tmpfile();
    const int saved = dup(STDERR_FILENO);
    dup2(fileno(file), STDERR_FILENO);
    body();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// No worker is left behind: every child process has been waited for.
bool NoChildLeft() {
    int status = 0;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

TEST(SafeFileName, KeepsLettersDigitsAndDashAndMakesEveryOtherByteOneUnderscore) {
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const bool kept = (byte < 128 && std::isalnum(byte)) || c == '-';
        const bool inside = kept || c == '.' || c == '_';
        // Alone, '.' and '_' are at both ends and go.
        EXPECT_EQ(SafeFileName(std::string(1, c)), kept ? std::string(1, c) : "") << byte;
        EXPECT_EQ(SafeFileName("a" + std::string(2, c) + "z"), "a" + (inside ? std::string(2, c) : "_") + "z") << byte;
    }
}

TEST(Batch, AFolderThatCannotBeMadeIsSaid) {
    const TempFolder folder;
    folder.Write("file", {'x'});
    const std::string below = (fs::path(folder.Path()) / "file" / "songs").string();
    bool made = true;
    const std::string said = StandardError([&] { made = MakeFolder(below); });
    EXPECT_FALSE(made);
    EXPECT_NE(said.find("songsim: " + below + ": cannot make the folder: "), std::string::npos) << said;
    // A batch that would write there fails, making nothing.
    const std::vector<std::string> songs = {"a.sng"};
    int status = 0;
    StandardError([&] { status = RunSongBatch(songs, below, ".mid", 1, [](const BatchJob&) { return Made{.status = 0, .written = true}; }); });
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(MakeFolder((fs::path(folder.Path()) / "new" / "songs").string()));
    EXPECT_TRUE(fs::is_directory(fs::path(folder.Path()) / "new" / "songs"));
}

// A job that kills its worker or makes it exit is a failed job that says
// how the worker ended; the other worker goes on, and once none is left the
// jobs not made are said too. Every worker is waited for, none of the
// pipes is left open, whether the workers died or finished.
TEST(Batch, AWorkerThatDiesFailsItsJobAndTheRestAreSaid) {
    const TempFolder folder;
    const auto make = [](const BatchJob& job) {
        if (job.input == "killed") raise(SIGKILL);
        if (job.input == "exits") _exit(7);
        if (job.input == "blank") PrintMessage("");
        std::ofstream(job.output) << job.input;
        return Made{.status = 0, .written = true};
    };
    const auto jobs = [&](std::vector<std::string> inputs) {
        std::vector<BatchJob> list;
        for (const std::string& input : inputs)
            list.push_back({.input = input, .output = (fs::path(folder.Path()) / (input + ".out")).string()});
        return list;
    };
    const size_t descriptors = OpenDescriptors();
    int status = -1;
    // Two workers: one dies on "killed", the other makes "first" and "second" and dies on "exits".
    std::string said = StandardError(
        [&] { status = RunJobs(jobs({"first", "killed", "second", "exits", "late", "later"}), 2, make, "song"); });
    EXPECT_EQ(status, 1);
    EXPECT_NE(said.find("songsim: killed: not made: the worker making it was killed by signal 9 (Killed)\n"),
              std::string::npos) << said;
    EXPECT_NE(said.find("songsim: exits: not made: the worker making it ended with status 7\n"), std::string::npos)
        << said;
    for (const char* late : {"late", "later"})
        EXPECT_NE(said.find(std::string("songsim: ") + late + ": not made: no worker left to make it\n"),
                  std::string::npos) << said;
    EXPECT_TRUE(said.ends_with("songsim: 6 songs: 2 written, 4 failed\n")) << said;
    EXPECT_TRUE(fs::exists(fs::path(folder.Path()) / "second.out"));
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(OpenDescriptors(), descriptors);

    // A message of one byte (an empty line) comes through whole.
    said = StandardError([&] { status = RunJobs(jobs({"one", "blank", "three"}), 2, make, "song"); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(said, "\nsongsim: 3 songs: 3 written, 0 failed\n");
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(OpenDescriptors(), descriptors);
    // One song is one.
    EXPECT_EQ(StandardError([&] { RunJobs(jobs({"one"}), 2, make, "song"); }), "songsim: 1 song: 1 written, 0 failed\n");
}


// "-" is standard output, even beside a folder of that name; a name ending
// in '/' or an existing folder is a folder.
TEST(Batch, StandardOutputIsNoFolder) {
    const TempFolder folder;
    fs::create_directory(fs::path(folder.Path()) / "-");
    const fs::path before = fs::current_path();
    fs::current_path(folder.Path());
    EXPECT_FALSE(NamesFolder("-"));
    EXPECT_FALSE(NamesFolder(""));
    EXPECT_FALSE(NamesFolder("song.mid"));
    EXPECT_TRUE(NamesFolder("songs/"));
    EXPECT_TRUE(NamesFolder("./-"));
    fs::current_path(before);
}

// With SIGCHLD ignored (as a parent may hand it down) the system reaps the
// workers itself: the batch still ends, a dead worker's job still fails.
TEST(Batch, EndsWhenTheSystemReapsTheWorkers) {
    const TempFolder folder;
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &previous);
    int status = -1;
    const std::string said = StandardError([&] {
        const std::vector<BatchJob> jobs = {{.input = "dies", .output = ""},
                                            {.input = "one", .output = (fs::path(folder.Path()) / "one").string()},
                                            {.input = "two", .output = (fs::path(folder.Path()) / "two").string()}};
        status = RunJobs(jobs, 2, [](const BatchJob& job) {
            if (job.input == "dies") _exit(3);
            std::ofstream(job.output) << job.input;
            return Made{.status = 0, .written = true};
        }, "song");
    });
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(status, 1);
    EXPECT_NE(said.find("songsim: dies: not made: the worker making it ended"), std::string::npos) << said;
    EXPECT_TRUE(said.ends_with("songsim: 3 songs: 2 written, 1 failed\n")) << said;
}

}  // namespace
