// Applying the next group of the song to the playback state.
#pragma once

#include <cstdint>

#include "playback/listener.h"
#include "song/song.h"

// Applies the group at `current` (the first group when it is null) and moves
// `current` on. With `setTicks` nonzero the group timer is loaded with the
// largest `remaining` given to a slot, or 0. Returns 1 when this call
// applied the song-end event (no caller needs it: songEnd says the same).
int32_t ProcessGroup(SSONG* song, int32_t setTicks);

// Counts an error in the song and tells the listener.
void ReportError(SSONG* song, const PlaybackError& error);
