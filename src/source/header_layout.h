// The parts of the song file header that the source language names besides
// the fields of the loader (song/loader.h).
#pragma once

#include <array>
#include <cstddef>

#include "song/loader.h"

struct HeaderArea {
    size_t begin;
    size_t end;
};

// Bytes no one reads: before the track names, and between the patches and
// the title.
inline constexpr std::array<HeaderArea, 2> kFreeHeaderAreas = {{
    {0, kTrackNamesOffset},
    {kPatchOffset + kTrackCount, kTitleOffset},
}};

// Bit 15 of the enable mask belongs to no track.
inline constexpr int kSpareMaskBit = 15;
// The three words after the enable mask, read and not interpreted.
inline constexpr size_t kSpareWordsOffset = kEnableMaskOffset + 2;
inline constexpr size_t kSpareWordCount = 3;
