#include "output/input_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "output/output.h"

std::optional<std::vector<uint8_t>> ReadWholeInput(const std::string& path, const std::string& name, size_t limit) {
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) {
        Complain("%s: %s", name.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    // A file says how long it is: room for all of it, so it is not copied as it grows.
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
        bytes.reserve(std::min(static_cast<size_t>(status.st_size), limit + 1));
    std::vector<uint8_t> room(1 << 16);
    bool failed = false;
    for (;;) {
        const size_t got = std::fread(room.data(), 1, room.size(), file);
        bytes.insert(bytes.end(), room.begin(), room.begin() + static_cast<std::ptrdiff_t>(got));
        if (bytes.size() > limit) {
            Complain("%s: larger than the %zu bytes songsim reads", name.c_str(), limit);
            failed = true;
            break;
        }
        if (got < room.size()) {
            if (std::ferror(file)) {
                Complain("%s: %s", name.c_str(), std::strerror(errno ? errno : EIO));
                failed = true;
            }
            break;
        }
    }
    if (file != stdin) std::fclose(file);
    if (failed) return std::nullopt;
    return bytes;
}
