// --tracks and --mute: the song tracks an export or a picture keeps, by the
// numbers the check gives them (0..14).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

// "0,2,5": the tracks named, as a mask (bit t for track t); none when the
// list is empty or names anything but tracks 0..14.
std::optional<uint16_t> ParseTrackList(std::string_view text);

struct TrackSelection {
    std::string tracks;  // --tracks: only these
    std::string mute;    // --mute: all but these
    // The tracks kept, bit t for track t: every track when neither is given.
    uint16_t Mask() const;
};
// Adds --tracks and --mute, which exclude each other, to `command`.
void AddTrackOptions(CLI::App* command, TrackSelection& selection);
