// Many songs at once: one output per song in a folder, made N at a time by
// worker processes. A worker makes one song after another and keeps what
// it loaded for the first (the soundfont) for the next; each song's
// messages are collected and printed together, and one line sums up.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

// One output to make.
struct BatchJob {
    std::string input;   // the song, as named on the command line
    std::string output;  // the file to write
    int part = -1;       // which part of the song, for a maker that makes several (a stem's track); -1: all
};

// What making one output came to.
struct Made {
    int status = 0;        // as the command would exit, run on this song alone
    bool written = false;  // the output is in place
};
using JobMaker = std::function<Made(const BatchJob&)>;

// The options every command that makes many outputs shares.
struct BatchOptions {
    int workers = 0;     // -j; 0: one per core
    std::string format;  // --format: the extension of the outputs in a folder, without its dot; "" the default
};
// Adds -j, and --format (one of `formats`, the first the default) when
// there are formats to choose from, to `command`.
void AddBatchOptions(CLI::App* command, BatchOptions& options, std::vector<std::string> formats);

// True when `output` names a folder: it ends with '/' or is one.
bool NamesFolder(const std::string& output);
// True when `songs` and `output` ask for a batch: more than one song, or a
// folder to write into.
bool IsBatch(std::span<const std::string> songs, const std::string& output);
// `folder` joined with `name`.
std::string InFolder(const std::string& folder, std::string_view name);
// Makes `folder` and the folders above it when missing. False, said, when it cannot.
bool MakeFolder(const std::string& folder);

// Bytes made into a file name that every file system takes and no shell
// misreads: letters, digits, '-', '_' and '.' stay, every run of other bytes
// (spaces, slashes, control characters, bytes of other scripts) is one '_',
// and no '.' or '_' at either end. Empty when nothing is left.
std::string SafeFileName(std::string_view bytes);

// Makes one output per song into `folder`, each named after its song with
// `extension` (".mid"), at most `workers` at a time (0: one per core). Before
// anything is written it refuses standard input and two songs whose outputs
// would have the same name (status 2), and an output that is one of the
// songs (status 1). Returns the exit status: 0 when every output was
// written, 1 otherwise.
int RunSongBatch(std::span<const std::string> songs, const std::string& folder, std::string_view extension,
                 int workers, const JobMaker& make);

// Runs every job, at most `workers` at a time, and prints each job's
// messages together, then "N <noun>s: W written, F failed". On a terminal a
// progress bar counts the jobs done. Returns 0 when every output was
// written, 1 otherwise.
int RunJobs(std::span<const BatchJob> jobs, int workers, const JobMaker& make, std::string_view noun);
