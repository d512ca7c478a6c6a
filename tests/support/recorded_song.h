// Plays a song built byte by byte in this process and records its playback,
// as the export commands do.
#pragma once

#include <cstdint>
#include <vector>

#include "song/open.h"
#include "timeline/timeline.h"

struct RecordedSong {
    SongPtr song;  // played
    Timeline timeline;
};
RecordedSong Record(const std::vector<uint8_t>& bytes, RecorderOptions options = {.keepNotes = true});
