// Files that songsim writes appear whole or not at all: the bytes go to a
// file with no name in the target's folder (or, where the file system has no
// such files, to a hidden temporary file beside the target), which is put in
// place of the target once complete. A replaced file keeps its permissions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

// Where the bytes wait: a file with no name where the file system has them
// (a hidden named file otherwise), or a hidden named file in any case.
enum class Temporary { Unnamed, Named };

class AtomicFile {
public:
    // Creates the temporary file in the folder of `path`. When that fails,
    // Ok() is false and Error() says why.
    explicit AtomicFile(std::string path, Temporary temporary = Temporary::Unnamed);
    // Removes the temporary file unless Commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Ok() const { return stream_ != nullptr && error_.empty(); }
    const std::string& Path() const { return path_; }
    // The named temporary file, or "" while the file has no name.
    const std::string& TemporaryName() const { return temporary_; }
    // The reason of the first failure, as "<path>: <reason>".
    const std::string& Error() const { return error_; }

    // The open temporary file, for writers that need a stream or a descriptor.
    std::FILE* Stream() const { return stream_; }
    bool Write(std::span<const uint8_t> bytes);
    bool Write(std::string_view text);
    // Writes out what is buffered and waits until the disk holds it, so that
    // Commit has only the rename left (Commit does this itself otherwise).
    bool Flush();
    // Flushes and closes the temporary file and renames it to the target.
    bool Commit();

private:
    bool Fail(const char* what);
    bool OpenUnnamed(const std::string& folder, unsigned mode);
    bool OpenNamed(const std::string& folder, unsigned mode);
    bool LinkUnnamed();

    std::string path_;
    std::string folder_;
    std::string temporary_;  // the temporary file's name, once it has one
    std::FILE* stream_ = nullptr;
    std::string error_;
    int cleanupSlot_ = -1;  // where the signal handler finds temporary_
    bool flushed_ = false;  // nothing written since the last Flush
    bool committed_ = false;
};

// True when `output` names the same file as `input` (which exists), so that
// writing it would destroy what is being read.
bool IsSameFile(const std::string& input, const std::string& output);

// "-" as an input is standard input, as an output standard output.
inline bool IsStandardStream(std::string_view path) { return path == "-"; }

// Every command refuses, with this status, to write over a file it reads.
inline constexpr int kOutputIsInputStatus = 1;
// True, after saying so, when `output` is the very file (device and inode)
// of one of `inputs`, "-" meaning the file on standard input.
bool OutputIsInput(std::span<const std::string> inputs, const std::string& output);
