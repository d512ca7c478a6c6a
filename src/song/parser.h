// Decoding the event stream into groups of SEVENT records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "song/song.h"

inline constexpr int32_t kParseMore = 1;
inline constexpr int32_t kParseSongEnd = 0;
inline constexpr int32_t kParseOutOfMemory = -1;

// A zero-filled event of `kind`, allocated as a list payload; null when
// memory runs out.
SEVENT* NewEvent(int32_t kind);
// Frees every event of a group chain.
void FreeGroup(SEVENT* group);
// Parses every group of the stream into the song's list, flushing the
// output after each group but the last. Returns kParseSongEnd, or
// kParseOutOfMemory.
int32_t ParseAllGroups(SSONG* song);
// For a song parsed as it plays: parses groups up to the next one that holds
// an event, appends it to the song's list and returns it; null once the
// song-end group has been parsed, or memory ran out (streamState says which).
SEVENT* ParseNextGroup(SSONG* song);
// Where a parsed event starts in the file (0 for an event made otherwise).
size_t EventOffset(const SEVENT* event);
// The tempo byte of a parsed tempo event as the file holds it (beats per
// minute); its `value` keeps only the period derived from it.
uint8_t TempoByte(const SSONG* song, const SEVENT* event);
// What the parser said of a cut stream (song->streamCutAt is set).
std::string StreamCutMessage(const SSONG* song);

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
