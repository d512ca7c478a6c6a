#include "driver/track_selection.h"

#include <charconv>

#include "midi/midi_song.h"

std::optional<uint16_t> ParseTrackList(std::string_view text) {
    if (text.empty()) return std::nullopt;
    uint16_t mask = 0;
    for (;;) {
        const size_t comma = std::min(text.find(','), text.size());
        const std::string_view item = text.substr(0, comma);
        int track = -1;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), track);
        if (item.empty() || error != std::errc() || end != item.data() + item.size() || !IsTrackNumber(track))
            return std::nullopt;
        mask = static_cast<uint16_t>(mask | 1u << track);
        if (comma == text.size()) return mask;
        text.remove_prefix(comma + 1);
    }
}

uint16_t TrackSelection::Mask() const {
    if (!tracks.empty()) return ParseTrackList(tracks).value_or(0);
    if (!mute.empty()) return static_cast<uint16_t>(kAllTracks & ~ParseTrackList(mute).value_or(0));
    return kAllTracks;
}

void AddTrackOptions(CLI::App* command, TrackSelection& selection) {
    const CLI::Validator list(
        [](std::string& text) {
            return ParseTrackList(text) ? std::string()
                                        : "'" + text + "': give track numbers 0 to 14, separated by commas (0,2)";
        },
        "T,T...");
    CLI::Option* tracks =
        command->add_option("--tracks", selection.tracks, "Only these tracks, numbered as the check numbers them")
            ->check(list);
    command->add_option("--mute", selection.mute, "All tracks but these, numbered as the check numbers them")
        ->check(list)
        ->excludes(tracks);
}
