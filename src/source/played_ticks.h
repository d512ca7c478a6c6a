// The ticks at which the playback engine applies the groups of a song, for
// the comments of the disassembly: the song plays in this process, printing
// nothing, as `songsim check` plays it, so the ticks are the ones the check
// reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <deque>
#include <utility>

class PlayedTicks {
public:
    // Plays `song`, a whole song file of header size or more.
    explicit PlayedTicks(std::span<const uint8_t> song);

    // The tick of the group whose bytes start at file offset `offset`;
    // nothing for a group the engine never applied (an empty group, or one
    // after playback stopped). Asked with rising offsets.
    std::optional<int64_t> TickOf(size_t offset);

private:
    // Offset and tick, in the order applied, from the one TickOf asked for
    // last. (A deque: hundreds of thousands of groups, never copied as they
    // come.)
    std::deque<std::pair<size_t, int64_t>> applied_;
};
