// Opening a song for a command: loaded, its header read and its stream
// parsed, owned by one pointer that frees the whole song.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "song/song.h"

// The note slots of the player.
inline constexpr int kSongSlots = 16;

struct SongDeleter {
    void operator()(SSONG* song) const;
};
// The one owner of a loaded song.
using SongPtr = std::unique_ptr<SSONG, SongDeleter>;

// Loads `path` ("-" for standard input) with kSongSlots slots and nothing
// parsed; null (diagnosed) when it cannot be read.
SongPtr LoadSongFile(const std::string& path);

// Loads `path` ("-" for standard input) and parses it, printing nothing but
// diagnostics. Null when the song cannot be read. Parsed as it plays, only
// the groups not yet played are held (later diagnostics come as playback
// reaches them).
enum class Parsing { UpFront, AsItPlays };
SongPtr OpenSong(const std::string& path, Parsing parsing);
// The same for an image in memory, diagnosed under SetDiagnosticFile's name.
SongPtr OpenSongImage(std::span<const uint8_t> image, Parsing parsing);
