// Runs the real songsim binary in a fresh temporary folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SongsimRun {
    std::string out;  // whole standard output
    std::string err;  // whole standard error
    int status = -1;  // exit status, or 128 + signal number
};

// A temporary folder that is removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    // Writes `bytes` as the file `name` inside the folder.
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::string path_;
};

// Runs songsim in `folder` and collects its output and exit status.
SongsimRun RunSongsimIn(const TempFolder& folder);

// How to run songsim with arguments.
struct SongsimCall {
    std::vector<std::string> args = {};
    std::string folder = ".";            // the working folder
    const std::string* input = nullptr;  // standard input (none: /dev/null)
    bool mergeErr = false;               // standard error into standard output (2>&1)
    std::string outFile = {};            // standard output to this file instead (e.g. /dev/full)
    std::string inFile = {};             // standard input from this file instead, in `folder`
    bool closeIn = false;                // standard input closed (<&-)
    long fileSizeLimit = 0;              // bytes a file may grow to (ulimit -f), as a full disk; 0: none
    // Libraries whose leaks LeakSanitizer is not to report in this run:
    // libvorbis keeps its encoder's state when libsndfile closes an Ogg file
    // whose write failed.
    std::vector<std::string> leakyLibraries = {};
};
SongsimRun RunSongsim(const SongsimCall& call);
// Writes `song` as entertan.sng in a fresh folder and runs songsim there.
SongsimRun RunSongsimOn(const std::vector<uint8_t>& song);
