// floor: the least a program can spend to emit a given songsim output. It
// writes the bytes of OUTPUT_FILE to standard output with the write calls
// songsim makes for them, and does nothing else.
//   floor OUTPUT_FILE [WRITE_SIZES]
// WRITE_SIZES lists the byte counts of songsim's write calls, one a line (the
// benchmark takes them from strace). Without it the floor reproduces
// songsim's flush points as printf output to stdout has them: songsim
// flushes after every parsed group and every listed event, so up to the end
// of the listing (the song-end line) every line is one write (the start-up
// lines up to the parse banner go out together with the first group); after
// that stdio fills its buffer and writes it whole.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool WriteAll(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t done = write(STDOUT_FILENO, data, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

// The buffer glibc gives a stream: the file's block size when it is below
// BUFSIZ, else BUFSIZ.
size_t StdioBufferSize() {
    struct stat info {};
    if (fstat(STDOUT_FILENO, &info) == 0 && info.st_blksize > 0 && info.st_blksize < BUFSIZ)
        return static_cast<size_t>(info.st_blksize);
    return BUFSIZ;
}

}  // namespace

// The sizes listed in `path`, or an empty list when it cannot be read.
std::vector<size_t> ReadSizes(const char* path) {
    std::vector<size_t> sizes;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return sizes;
    std::string text;
    char block[1 << 16];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
    std::fclose(file);
    const char* at = text.data();
    const char* end = at + text.size();
    while (at < end) {
        size_t size = 0;
        const auto [next, error] = std::from_chars(at, end, size);
        if (error == std::errc()) sizes.push_back(size);
        at = next + 1;  // past the digits and the newline (or past a stray byte)
    }
    return sizes;
}

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: floor OUTPUT_FILE [WRITE_SIZES]\n");
        return 2;
    }
    // A few megabytes of numbers at most, read in milliseconds.
    const std::vector<size_t> sizes = argc == 3 ? ReadSizes(argv[2]) : std::vector<size_t>{};
    const int fd = open(argv[1], O_RDONLY);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        std::fprintf(stderr, "floor: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const auto size = static_cast<size_t>(info.st_size);
    if (size == 0) return 0;
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "floor: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const std::string_view text(static_cast<const char*>(map), size);

    if (argc == 3) {
        size_t at = 0;
        for (size_t length : sizes) {
            if (length > size - at) break;
            if (!WriteAll(text.data() + at, length)) return 1;
            at += length;
        }
        if (at != size) {
            std::fprintf(stderr, "floor: the write sizes cover %zu of %zu bytes\n", at, size);
            return 1;
        }
        return 0;
    }

    // Line by line through the listing, which ends with the song-end line.
    constexpr std::string_view kListingEnd = "\n*******SONG END********\n";
    const size_t found = text.find(kListingEnd);
    const size_t listingEnd = found == std::string_view::npos ? 0 : found + kListingEnd.size();
    size_t at = 0;
    constexpr std::string_view kParseBanner = "\n******************** PARSE ";
    const size_t banner = text.find(kParseBanner);
    if (banner != std::string_view::npos && banner < listingEnd) {
        const size_t bannerEnd = text.find('\n', banner + 1) + 1;
        if (!WriteAll(text.data(), bannerEnd)) return 1;
        at = bannerEnd;
    }
    while (at < listingEnd) {
        const size_t lineEnd = text.find('\n', at) + 1;
        if (!WriteAll(text.data() + at, lineEnd - at)) return 1;
        at = lineEnd;
    }
    // Then whole stdio buffers.
    const size_t chunk = StdioBufferSize();
    while (at < size) {
        const size_t length = size - at < chunk ? size - at : chunk;
        if (!WriteAll(text.data() + at, length)) return 1;
        at += length;
    }
    return 0;
}
