#include "playback/listener.h"

#include <array>

#include "song/tables.h"

namespace {

constexpr std::array<std::string_view, 6> kErrorMeanings = {
    "unknown error",
    "note held past its end",
    "tie continuation found no note",
    "note held 300 ticks past its end, forced off",
    "note on a track outside 0..14, not played",
    "no free note slot, note not played",
};

struct StopText {
    std::string_view key;
    std::string_view meaning;
};
constexpr std::array<StopText, 4> kStops = {{
    {"none", "not stopped"},
    {"held-past-end", "a note that is not tied was held past its end (error 1)"},
    {"song-end", "the song end came while notes still sound"},
    {"timer-limit", "the group timer fell below -1000: no group can come due any more"},
}};

template <typename Table>
const auto& Entry(const Table& table, int32_t index) {
    return table[index >= 0 && static_cast<size_t>(index) < table.size() ? static_cast<size_t>(index) : 0];
}

}  // namespace

std::string_view ErrorMeaning(int32_t code) { return Entry(kErrorMeanings, code); }
std::string ErrorSentence(const PlaybackError& error, int64_t tick, int32_t measure, std::string_view track) {
    return "error " + std::to_string(error.code) + " at tick " + std::to_string(tick) + ", measure " +
           std::to_string(measure) + ": " + std::string(ErrorMeaning(error.code)) + " (" + std::string(track) +
           ", note " + NoteText(error.note) + ")";
}

std::string_view StopMeaning(int32_t reason) { return Entry(kStops, reason).meaning; }
std::string_view StopKey(int32_t reason) { return Entry(kStops, reason).key; }
