#include "song/open.h"

#include "song/loader.h"
#include "song/parser.h"

namespace {

// Reads the header and parses the first group, or every group.
SongPtr Prepare(SongPtr song, Parsing parsing) {
    if (!song) return song;
    GetSongParameters(song.get());
    InitSong(song.get());
    if (parsing == Parsing::UpFront) {
        if (ParseAllGroups(song.get()) != kParseSongEnd) song.reset();
    } else {
        song->streamState = kStreamLive;
        if (!ParseNextGroup(song.get())) song.reset();  // memory ran out
    }
    return song;
}

}  // namespace

void SongDeleter::operator()(SSONG* song) const { FreeSong(song); }

SongPtr LoadSongFile(const std::string& path) { return SongPtr(LoadSongInput(path, kSongSlots)); }

SongPtr OpenSong(const std::string& path, Parsing parsing) { return Prepare(LoadSongFile(path), parsing); }

SongPtr OpenSongImage(std::span<const uint8_t> image, Parsing parsing) {
    return Prepare(SongPtr(LoadSongImage(image, kSongSlots)), parsing);
}
