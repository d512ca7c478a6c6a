#include "source/played_ticks.h"

#include <string>

#include "containers/list.h"
#include "output/output.h"
#include "playback/listener.h"
#include "playback/tick.h"
#include "song/open.h"
#include "song/parser.h"

namespace {

// Notes where each group starts as it is applied: the file offset of its
// first event, and the tick.
class GroupStarts final : public PlaybackListener {
public:
    explicit GroupStarts(std::deque<std::pair<size_t, int64_t>>& applied) : applied_(applied) {}

    void GroupApplying(const SSONG& song, int32_t /*banner*/) override {
        const void* group = song.current ? song.current : ListHead(&song.events);
        if (group) applied_.emplace_back(EventOffset(static_cast<const SEVENT*>(group)), song.clock);
    }

private:
    std::deque<std::pair<size_t, int64_t>>& applied_;
};

}  // namespace

PlayedTicks::PlayedTicks(std::span<const uint8_t> song) {
    const DroppedDiagnostics dropped;  // a cut stream is no news here: the disassembly shows it
    // Parsed as it plays: only the groups not yet played are held.
    const SongPtr loaded = OpenSongImage(song, Parsing::AsItPlays);
    if (loaded) {
        GroupStarts starts(applied_);
        PlaySong(loaded.get(), starts);
    }
}

std::optional<int64_t> PlayedTicks::TickOf(size_t offset) {
    while (!applied_.empty() && applied_.front().first < offset) applied_.pop_front();
    if (!applied_.empty() && applied_.front().first == offset) return applied_.front().second;
    return std::nullopt;
}
