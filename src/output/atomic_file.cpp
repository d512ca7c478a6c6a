#include "output/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>

#include "output/output.h"

namespace {

// The permissions a newly created file gets (0666 less the umask).
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// A file being replaced keeps its permissions (not set-user-ID, set-group-ID
// or sticky: its content is new); anything else (a new file, or
// a symbolic link, which is replaced by a file) gets a new file's.
mode_t ModeFor(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 0777;
    return NewFileMode();
}

// Named temporary files are removed when a signal ends the run (SIGINT,
// SIGTERM, SIGHUP): the handler finds their names here. A slot is claimed
// with `used` before its name is written, and is visible to the handler
// only once `ready`.
struct CleanupSlot {
    std::atomic<bool> used{false};
    std::atomic<bool> ready{false};
    std::array<char, 4096> name{};
};
std::array<CleanupSlot, 8> gCleanup;

constexpr std::array<int, 3> kCleanupSignals = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporariesAndDie(int signal) {
    for (CleanupSlot& slot : gCleanup)
        if (slot.ready.load()) unlink(slot.name.data());
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Once per run; a signal that is ignored (nohup) stays ignored.
void InstallCleanup() {
    static const bool installed = [] {
        for (const int signal : kCleanupSignals) {
            struct sigaction old {};
            if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_handler = RemoveTemporariesAndDie;
            sigemptyset(&action.sa_mask);
            sigaction(signal, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
}

int ClaimCleanup(const std::string& name) {
    if (name.size() >= CleanupSlot{}.name.size()) return -1;
    InstallCleanup();
    for (size_t i = 0; i < gCleanup.size(); ++i) {
        CleanupSlot& slot = gCleanup[i];
        if (slot.used.exchange(true)) continue;
        std::memcpy(slot.name.data(), name.c_str(), name.size() + 1);
        slot.ready.store(true);
        return static_cast<int>(i);
    }
    return -1;
}

void ReleaseCleanup(int& index) {
    if (index < 0) return;
    CleanupSlot& slot = gCleanup[static_cast<size_t>(index)];
    slot.ready.store(false);
    slot.used.store(false);
    index = -1;
}

// ".<name>.XXXXXX" beside the target, with six random characters.
std::string HiddenName(const std::string& folder, const std::string& target) {
    static std::mt19937_64 random(std::random_device{}() ^ static_cast<uint64_t>(getpid()));
    constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name = (std::filesystem::path(folder) / ("." + std::filesystem::path(target).filename().string() + ".")).string();
    for (int i = 0; i < 6; ++i) name += kLetters[random() % kLetters.size()];
    return name;
}

}  // namespace

AtomicFile::AtomicFile(std::string path, Temporary temporary) : path_(std::move(path)) {
    const std::filesystem::path target(path_);
    folder_ = target.has_parent_path() ? target.parent_path().string() : ".";
    const mode_t mode = ModeFor(path_);
    if (temporary == Temporary::Unnamed && OpenUnnamed(folder_, mode)) return;
    OpenNamed(folder_, mode);
}

// A file with no name (O_TMPFILE): nothing is left of it if the run is
// killed, by any signal, before it is complete.
bool AtomicFile::OpenUnnamed(const std::string& folder, unsigned mode) {
#ifdef O_TMPFILE
    // It gets its name through /proc at the end.
    if (access("/proc/self/fd", X_OK) != 0) return false;
    const int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor < 0) return false;
    fchmod(descriptor, static_cast<mode_t>(mode));
    stream_ = fdopen(descriptor, "w+b");
    if (!stream_) {
        close(descriptor);
        return false;
    }
    return true;
#else
    (void)folder;
    (void)mode;
    return false;
#endif
}

// A hidden file beside the target, removed on the signals that can be caught.
bool AtomicFile::OpenNamed(const std::string& folder, unsigned mode) {
    temporary_ = (std::filesystem::path(folder) / ("." + std::filesystem::path(path_).filename().string() + ".XXXXXX")).string();
    const int descriptor = mkostemp(temporary_.data(), O_CLOEXEC);
    if (descriptor < 0) {
        temporary_.clear();
        return Fail("cannot create a file in its folder");
    }
    cleanupSlot_ = ClaimCleanup(temporary_);
    fchmod(descriptor, static_cast<mode_t>(mode));
    stream_ = fdopen(descriptor, "w+b");
    if (!stream_) {
        close(descriptor);
        return Fail("cannot open");
    }
    return true;
}

// Gives the unnamed file a hidden name beside the target, for the rename.
bool AtomicFile::LinkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(fileno(stream_));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = HiddenName(folder_, path_);
        cleanupSlot_ = ClaimCleanup(name);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporary_ = std::move(name);
            return true;
        }
        ReleaseCleanup(cleanupSlot_);
        if (errno != EEXIST) break;
    }
    return Fail("cannot write");
}

AtomicFile::~AtomicFile() {
    if (stream_) std::fclose(stream_);
    if (!committed_ && !temporary_.empty()) std::remove(temporary_.c_str());
    ReleaseCleanup(cleanupSlot_);
}

bool AtomicFile::Fail(const char* what) {
    if (error_.empty()) error_ = path_ + ": " + what + (errno ? std::string(": ") + std::strerror(errno) : "");
    return false;
}

bool AtomicFile::Write(std::span<const uint8_t> bytes) {
    if (!Ok()) return false;
    flushed_ = false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) return Fail("cannot write");
    return true;
}

bool AtomicFile::Write(std::string_view text) {
    return Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool AtomicFile::Flush() {
    if (!Ok()) return false;
    errno = 0;
    flushed_ = std::fflush(stream_) == 0 && !std::ferror(stream_) && fsync(fileno(stream_)) == 0;
    return flushed_ || Fail("cannot write");
}

bool AtomicFile::Commit() {
    if (!Ok() || (!flushed_ && !Flush())) return false;
    if (temporary_.empty() && !LinkUnnamed()) return false;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!closed) return Fail("cannot write");
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) return Fail("cannot replace");
    committed_ = true;
    ReleaseCleanup(cleanupSlot_);
    return true;
}

namespace {

struct FileId {
    dev_t device;
    ino_t inode;
};

std::optional<FileId> IdOf(const std::string& path) {
    struct stat info {};
    const int status = IsStandardStream(path) ? fstat(STDIN_FILENO, &info) : stat(path.c_str(), &info);
    if (status != 0) return std::nullopt;
    return FileId{info.st_dev, info.st_ino};
}

}  // namespace

bool IsSameFile(const std::string& input, const std::string& output) {
    struct stat in {};
    struct stat out {};
    return stat(input.c_str(), &in) == 0 && stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
           in.st_ino == out.st_ino;
}

bool OutputIsInput(std::span<const std::string> inputs, const std::string& output) {
    if (IsStandardStream(output)) return false;
    const std::optional<FileId> target = IdOf(output);
    if (!target) return false;
    for (const std::string& input : inputs) {
        const std::optional<FileId> source = IdOf(input);
        if (!source || source->device != target->device || source->inode != target->inode) continue;
        if (IsStandardStream(input))
            Complain("%s: is the file on standard input; not written over", output.c_str());
        else
            Complain("%s: is the input file; not written over", output.c_str());
        return true;
    }
    return false;
}
