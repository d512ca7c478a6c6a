#include "output/atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

// The permissions a newly created file gets (0666 less the umask); mkstemp
// would leave the temporary file readable by its owner only.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    const std::filesystem::path target(path_);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    temporary_ = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int descriptor = mkstemp(temporary_.data());
    if (descriptor < 0) {
        temporary_.clear();
        Fail("cannot create a file in its folder");
        return;
    }
    fchmod(descriptor, NewFileMode());
    stream_ = fdopen(descriptor, "wb");
    if (!stream_) {
        close(descriptor);
        Fail("cannot open");
    }
}

AtomicFile::~AtomicFile() {
    if (stream_) std::fclose(stream_);
    if (!committed_ && !temporary_.empty()) std::remove(temporary_.c_str());
}

bool AtomicFile::Fail(const char* what) {
    if (error_.empty()) error_ = path_ + ": " + what + (errno ? std::string(": ") + std::strerror(errno) : "");
    return false;
}

bool AtomicFile::Write(std::span<const uint8_t> bytes) {
    if (!Ok()) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) return Fail("cannot write");
    return true;
}

bool AtomicFile::Write(std::string_view text) {
    return Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool AtomicFile::Commit() {
    if (!Ok()) return false;
    errno = 0;
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_) && fsync(fileno(stream_)) == 0;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!flushed || !closed) return Fail("cannot write");
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) return Fail("cannot replace");
    committed_ = true;
    return true;
}

bool IsSameFile(const std::string& input, const std::string& output) {
    std::error_code error;
    return std::filesystem::equivalent(input, output, error) && !error;
}
