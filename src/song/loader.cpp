#include "song/loader.h"

#include <sys/stat.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "containers/list.h"
#include "output/output.h"
#include "song/parser.h"
#include "song/read_listener.h"

namespace {

// Semitone shift of octave codes 0..5; other codes shift by 0.
constexpr std::array<int16_t, 6> kOctaveShift = {0, -24, -12, 0, 12, 24};

// One zero-filled block: the record, the image from `data` on, then the pool
// at the next multiple of 4 after the image.
SSONG* NewSongBlock(size_t imageSize, int32_t noteCount) {
    if (noteCount < 0 || imageSize > kMaxImageSize) return nullptr;
    const size_t poolBytes = static_cast<size_t>(noteCount) * sizeof(SNOTE);
    const size_t blockSize = sizeof(SSONG) + imageSize + poolBytes + 8;
    auto* block = static_cast<unsigned char*>(std::calloc(1, blockSize));
    if (!block) return nullptr;
    auto* song = reinterpret_cast<SSONG*>(block);
    const size_t poolOffset = (sizeof(SSONG) + imageSize + 3) & ~size_t{3};
    song->notes = reinterpret_cast<SNOTE*>(block + poolOffset);
    song->noteCount = noteCount;
    song->dataSize = imageSize;
    return song;
}

}  // namespace

bool CheckImageSize(size_t size) {
    if (size < kHeaderSize) {
        Diagnose("file of %zu bytes is shorter than the %zu-byte header", size, kHeaderSize);
        return false;
    }
    if (size > kMaxImageSize) {
        Diagnose("file of %zu bytes is larger than the %zu bytes songsim reads", size, kMaxImageSize);
        return false;
    }
    return true;
}

SSONG* LoadSong(const char* fileName, int32_t noteCount) {
    SetDiagnosticFile(fileName);
    struct stat info {};
    if (stat(fileName, &info) != 0) {
        Diagnose("%s", std::strerror(errno));
        return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
        Diagnose("not a regular file");
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) return LoadSongStream(fileName, noteCount);  // a pipe, <(...), a device
    const auto size = static_cast<size_t>(info.st_size);
    if (!CheckImageSize(size)) return nullptr;
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        Diagnose("%s", std::strerror(errno));
        return nullptr;
    }
    SSONG* song = NewSongBlock(size, noteCount);
    if (!song) {
        std::fclose(file);
        Diagnose("out of memory");
        return nullptr;
    }
    const size_t got = std::fread(SongImage(song), 1, size, file);
    std::fclose(file);
    if (got != size) {
        Diagnose("read %zu of %zu bytes", got, size);
        FreeSong(song);
        return nullptr;
    }
    return song;
}

SSONG* LoadSongImage(std::span<const uint8_t> image, int32_t noteCount) {
    if (!CheckImageSize(image.size())) return nullptr;
    SSONG* song = NewSongBlock(image.size(), noteCount);
    if (!song) {
        Diagnose("out of memory");
        return nullptr;
    }
    std::memcpy(SongImage(song), image.data(), image.size());
    return song;
}

namespace {

// Every byte of `stream`, or nothing (diagnosed) when it cannot be read or
// holds more than songsim reads (it may never end: /dev/zero).
std::optional<std::vector<uint8_t>> ReadStream(std::FILE* stream) {
    std::vector<uint8_t> bytes;
    std::array<uint8_t, 1 << 16> chunk;
    while (size_t got = std::fread(chunk.data(), 1, chunk.size(), stream)) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        if (bytes.size() > kMaxImageSize) {
            Diagnose("more than the %zu bytes songsim reads", kMaxImageSize);
            return std::nullopt;
        }
    }
    if (std::ferror(stream)) {
        Diagnose("%s", std::strerror(errno));
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

SSONG* LoadSongStream(const char* fileName, int32_t noteCount) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        Diagnose("%s", std::strerror(errno));
        return nullptr;
    }
    const std::optional<std::vector<uint8_t>> bytes = ReadStream(file);
    std::fclose(file);
    return bytes ? LoadSongImage(*bytes, noteCount) : nullptr;
}

std::optional<std::vector<uint8_t>> ReadStandardInput() {
    SetDiagnosticFile(kStandardInputName);
    if (StandardInputClosed()) {
        Diagnose("standard input is closed");
        return std::nullopt;
    }
    return ReadStream(stdin);
}

SSONG* LoadSongInput(const std::string& path, int32_t noteCount) {
    if (path != "-") return LoadSong(path.c_str(), noteCount);
    const std::optional<std::vector<uint8_t>> bytes = ReadStandardInput();
    return bytes ? LoadSongImage(*bytes, noteCount) : nullptr;
}

void FreeSong(SSONG* song) {
    if (!song) return;
    for (void* group = ListHead(&song->events); group;) {
        void* nextGroup = ListNext(group);
        FreeGroup(static_cast<SEVENT*>(group));
        group = nextGroup;
    }
    std::free(song);
}

void GetSongParameters(SSONG* song) {
    const uint8_t* image = SongImage(song);
    SongReadListener* listener = song->readListener;
    if (listener) listener->HeaderReading(*song);
    for (int t = 0; t < kTrackCount; ++t) {
        STRACK& track = song->tracks[t];
        const auto chanRange = static_cast<int8_t>(image[kChanRangeOffset + t]);
        const auto patch = static_cast<int8_t>(image[kPatchOffset + t]);
        if (listener) listener->TrackBytesRead(*song, t, chanRange, patch);
        track.channel = static_cast<int16_t>(ChannelOf(static_cast<uint8_t>(chanRange)));
        track.octave = static_cast<int16_t>(OctaveCodeOf(static_cast<uint8_t>(chanRange)));
        track.octaveShift =
            track.octave >= 0 && track.octave < static_cast<int16_t>(kOctaveShift.size())
                ? kOctaveShift[static_cast<size_t>(track.octave)]
                : int16_t{0};
        track.patch = patch;
        std::memcpy(track.name, image + TrackNameOffset(t), kTrackNameLength);
        track.name[kTrackNameLength] = '\0';
    }
    // A title without a zero byte is cut at its 32 bytes.
    const auto* title = reinterpret_cast<const char*>(image + kTitleOffset);
    const size_t length = strnlen(title, kTitleLength);
    std::memcpy(song->title, title, length);
    song->title[length] = '\0';
}

void InitSong(SSONG* song) {
    ResetNotes(song);
    song->ticks = 100;
    song->groupCount = 0;
    const uint8_t* image = SongImage(song);
    const uint16_t enableMask = WordAt(std::span(image, kHeaderSize), kEnableMaskOffset);
    // The three words after the mask are read and not interpreted.
    for (int t = 0; t < kTrackCount; ++t) song->tracks[t].enabled = MaskBit(enableMask, t) ? 1 : 0;
    song->cursor = image + kHeaderSize;
}

void ResetNotes(SSONG* song) {
    for (SNOTE& slot : std::span(song->notes, static_cast<size_t>(song->noteCount))) {
        slot.channel = 0;
        slot.remaining = 0;
        slot.note = 0;
        slot.velocity = 0;
        slot.rest = 0;
        slot.tieBegin = 0;
        slot.tieEnd = 0;
        slot.inUse = 0;
    }
}

uint16_t SwapBytes16(uint16_t word) { return static_cast<uint16_t>((word << 8) | (word >> 8)); }
