#include "support/run_songsim.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef SONGSIM_BINARY
#define SONGSIM_BINARY "songsim"
#endif

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "songsim-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream file(path_ + "/" + name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

SongsimRun RunSongsim(const SongsimCall& call) {
    // Output goes to files outside the working folder, so the run sees only
    // what the test put there.
    TempFolder capture;
    const std::string inPath = capture.Path() + "/in";
    const std::string outPath = capture.Path() + "/out";
    const std::string errPath = capture.Path() + "/err";
    {
        std::ofstream in(inPath, std::ios::binary);
        if (call.input) in << *call.input;
    }
    const std::string suppressions = capture.Path() + "/lsan.supp";
    if (!call.leakyLibraries.empty()) {
        std::ofstream file(suppressions);
        for (const std::string& library : call.leakyLibraries) file << "leak:" << library << "\n";
    }
    std::vector<char*> argv = {const_cast<char*>(SONGSIM_BINARY)};
    for (const std::string& arg : call.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(call.folder.c_str()) != 0) _exit(126);
        const std::string& out = call.outFile.empty() ? outPath : call.outFile;
        const std::string& in = call.inFile.empty() ? inPath : call.inFile;
        if (!std::freopen(in.c_str(), "r", stdin) || !std::freopen(out.c_str(), "w", stdout)) _exit(126);
        if (call.mergeErr ? dup2(STDOUT_FILENO, STDERR_FILENO) < 0 : !std::freopen(errPath.c_str(), "w", stderr))
            _exit(126);
        if (call.closeIn) close(STDIN_FILENO);
        if (!call.leakyLibraries.empty()) setenv("LSAN_OPTIONS", ("suppressions=" + suppressions + ":print_suppressions=0").c_str(), 1);
        if (call.fileSizeLimit > 0) {
            const rlimit limit{static_cast<rlim_t>(call.fileSizeLimit), static_cast<rlim_t>(call.fileSizeLimit)};
            std::signal(SIGXFSZ, SIG_IGN);  // a write past it fails, as on a full disk
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(SONGSIM_BINARY, argv.data());
        _exit(127);
    }
    SongsimRun run;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    run.out = ReadAll(outPath);
    run.err = ReadAll(errPath);
    return run;
}

SongsimRun RunSongsimIn(const TempFolder& folder) { return RunSongsim({.folder = folder.Path()}); }

SongsimRun RunSongsimOn(const std::vector<uint8_t>& song) {
    TempFolder folder;
    folder.Write("entertan.sng", song);
    return RunSongsimIn(folder);
}
