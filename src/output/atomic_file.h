// Files that songsim writes appear whole or not at all: the bytes go to a
// temporary file beside the target, which is renamed over it once complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

class AtomicFile {
public:
    // Creates the temporary file in the folder of `path`. When that fails,
    // Ok() is false and Error() says why.
    explicit AtomicFile(std::string path);
    // Removes the temporary file unless Commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Ok() const { return stream_ != nullptr && error_.empty(); }
    const std::string& Path() const { return path_; }
    // The reason of the first failure, as "<path>: <reason>".
    const std::string& Error() const { return error_; }

    // The open temporary file, for writers that need a stream or a descriptor.
    std::FILE* Stream() const { return stream_; }
    bool Write(std::span<const uint8_t> bytes);
    bool Write(std::string_view text);
    // Flushes and closes the temporary file and renames it to the target.
    bool Commit();

private:
    bool Fail(const char* what);

    std::string path_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    std::string error_;
    bool committed_ = false;
};

// True when `output` names the same file as `input` (which exists), so that
// writing it would destroy what is being read.
bool IsSameFile(const std::string& input, const std::string& output);
