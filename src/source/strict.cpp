#include "source/strict.h"

#include <algorithm>
#include <string>

#include "containers/list.h"
#include "output/output.h"
#include "playback/listener.h"
#include "playback/tick.h"
#include "song/open.h"
#include "song/parser.h"

namespace {

// Keeps where playback is (the file offset of the group applied last) and
// the first thing that went wrong, in words.
class FirstFault final : public PlaybackListener {
public:
    void GroupApplying(const SSONG& song, int32_t /*banner*/) override {
        const void* group = song.current ? song.current : ListHead(&song.events);
        if (group) at_ = EventOffset(static_cast<const SEVENT*>(group));
    }
    void ErrorRaised(const SSONG& song, const PlaybackError& error) override {
        if (fault_) return;
        const std::string track = IsTrackNumber(error.track) ? "track " + std::to_string(error.track) : "no track";
        fault_ = ErrorSentence(error, song.clock, song.barsPlayed, track);
        faultAt_ = at_;
    }
    void Stopped(const SSONG& song) override {
        if (fault_) return;
        fault_ = "stopped at tick " + std::to_string(song.clock) + ", measure " + std::to_string(song.barsPlayed) +
                 ": " + std::string(StopMeaning(song.stopReason));
        faultAt_ = at_;
    }

    const std::optional<std::string>& Fault() const { return fault_; }
    size_t FaultAt() const { return faultAt_; }

private:
    size_t at_ = 0;
    size_t faultAt_ = 0;
    std::optional<std::string> fault_;
};

int LineOf(std::span<const SourceLine> lines, size_t offset) {
    const auto after = std::ranges::upper_bound(lines, offset, {}, &SourceLine::offset);
    return after == lines.begin() ? 1 : std::prev(after)->line;
}

}  // namespace

std::optional<SourceError> RefuseUnclean(std::span<const uint8_t> song, std::span<const SourceLine> lines) {
    const DroppedDiagnostics dropped;  // a cut stream is said in the refusal instead
    const SongPtr played = OpenSongImage(song, Parsing::AsItPlays);
    if (!played) return SourceError{LineOf(lines, song.size()), 0, "the song cannot be read back"};
    FirstFault fault;
    PlaySong(played.get(), fault);
    if (fault.Fault()) return SourceError{LineOf(lines, fault.FaultAt()), 0, *fault.Fault()};
    // Damage past the end of playback counts too, as for the check.
    while (SEVENT* group = ParseNextGroup(played.get())) {
        ListRemove(&played->events, group);
        FreeGroup(group);
    }
    if (played->streamState == kStreamFailed) return SourceError{LineOf(lines, song.size()), 0, "out of memory"};
    if (played->streamCutAt != 0)
        return SourceError{LineOf(lines, played->streamCutAt), 0,
                           "the song has no 'end': " + StreamCutMessage(played.get())};
    return std::nullopt;
}
