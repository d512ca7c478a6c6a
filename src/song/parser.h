// Decoding the event stream into groups of SEVENT records.
#pragma once

#include <cstdint>

#include "song/song.h"

inline constexpr int32_t kParseMore = 1;
inline constexpr int32_t kParseSongEnd = 0;
inline constexpr int32_t kParseOutOfMemory = -1;

// A zero-filled event of `kind`, allocated as a list payload; null when
// memory runs out.
SEVENT* NewEvent(int32_t kind);
// Frees every event of a group chain.
void FreeGroup(SEVENT* group);

// Decodes one group from the song's cursor and stores its first event (or
// null for an empty group) in *outGroup. Returns kParseMore when the group
// ended with 0x00 or 0x86, kParseSongEnd when it ended with the song-end
// code, and kParseOutOfMemory (with *outGroup null and nothing left
// allocated) when an event could not be made.
//
// The stream never reads past the image: where it ends without a song-end
// code, or inside an event, the cut event is dropped, a song-end event ends
// the group and the song, and standard error says where the stream ended.
int32_t ParseGroup(SSONG* song, SEVENT** outGroup);
