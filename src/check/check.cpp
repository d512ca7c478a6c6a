#include "check/check.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>

#include "containers/list.h"
#include "song/open.h"
#include "output/output.h"
#include "output/text.h"
#include "playback/tick.h"
#include "song/parser.h"
#include "song/tables.h"

namespace {

constexpr std::array<std::string_view, 5> kVerdictKeys = {"unreadable", "stopped", "errors", "damaged", "clean"};

// printf into a std::string, for the report's lines, however long the
// file name in them.
template <typename... Args>
std::string Format(const char* format, Args... args) {
    const int size = std::snprintf(nullptr, 0, format, args...);
    std::string line(static_cast<size_t>(std::max(size, 0)), '\0');
    std::snprintf(line.data(), line.size() + 1, format, args...);
    return line;
}

// "1 note", "2 notes".
std::string Count(int64_t count, const char* noun) {
    return Format("%" PRId64 " %s%s", count, noun, count == 1 ? "" : "s");
}

// Diagnostics of the load and parse go into the check, not to standard error.
class CollectedDiagnostics {
public:
    CollectedDiagnostics() : previous_(SetDiagnosticSink([this](const std::string& message) { last_ = message; })) {}
    ~CollectedDiagnostics() { SetDiagnosticSink(std::move(previous_)); }
    CollectedDiagnostics(const CollectedDiagnostics&) = delete;
    CollectedDiagnostics& operator=(const CollectedDiagnostics&) = delete;
    const std::string& Last() const { return last_; }

private:
    DiagnosticSink previous_;
    std::string last_;
};

std::string TrackName(const SSONG& song, int32_t track) {
    return IsTrackNumber(track) ? CleanText(song.tracks[track].name) : "";
}

}  // namespace

std::string_view VerdictKey(Verdict verdict) { return kVerdictKeys[static_cast<size_t>(verdict)]; }

Verdict VerdictOf(const Timeline& timeline, bool damaged) {
    if (timeline.stopReason != kStopNone) return Verdict::Stopped;
    if (!timeline.errors.empty()) return Verdict::Errors;
    if (damaged) return Verdict::Damaged;
    return Verdict::Clean;
}

namespace {

// Plays an opened song (parsed as it plays) and collects its facts; the
// diagnostics of its load and parse are in `diagnostics`.
SongCheck CheckOpenedSong(const std::string& file, SongPtr song, const CollectedDiagnostics& diagnostics,
                          RecorderOptions recording, const PlayedSongView& played = {}) {
    SongCheck check;
    check.file = file;
    if (!song) {
        check.whyUnreadable = diagnostics.Last();
        return check;
    }
    Recorder recorder(recording);
    PlaySong(song.get(), recorder);
    // Damage past where playback stopped still counts.
    while (SEVENT* group = ParseNextGroup(song.get())) {
        ListRemove(&song->events, group);
        FreeGroup(group);
    }
    if (song->streamState == kStreamFailed) {
        check.whyUnreadable = diagnostics.Last();
        return check;
    }
    if (song->streamCutAt != 0) check.damage = StreamDamage{song->streamCutAt, StreamCutMessage(song.get())};
    check.timeline = recorder.Take();
    check.title = CleanText(song->title);
    check.seconds = check.timeline.SecondsAt(check.timeline.lastTick);
    for (int t = 0; t < kTrackCount; ++t) {
        const STRACK& track = song->tracks[t];
        const int notes = check.timeline.trackNotes[static_cast<size_t>(t)];
        if (notes == 0) continue;
        check.tracks.push_back({.track = t,
                                .name = CleanText(track.name),
                                .channel = track.channel,
                                .patch = track.patch,
                                .enabled = track.enabled != 0,
                                .notes = notes});
    }
    for (const TimedError& error : check.timeline.errors)
        check.errorTrackNames.push_back(TrackName(*song, error.error.track));
    check.verdict = VerdictOf(check.timeline, check.damage.has_value());
    if (played) played(*song, check);
    return check;
}

}  // namespace

SongCheck CheckSong(const std::string& path, RecorderOptions recording) {
    const CollectedDiagnostics diagnostics;
    SongPtr song = OpenSong(path, Parsing::AsItPlays);
    return CheckOpenedSong(path, std::move(song), diagnostics, recording);
}

SongCheck CheckSongImage(std::span<const uint8_t> image, const std::string& name) {
    const CollectedDiagnostics diagnostics;
    SetDiagnosticFile(name.c_str());
    SongPtr song = OpenSongImage(image, Parsing::AsItPlays);
    return CheckOpenedSong(name, std::move(song), diagnostics, {.keepNotes = false});
}

SongCheck CheckSongImage(std::span<const uint8_t> image, const std::string& name, RecorderOptions recording,
                         const PlayedSongView& played) {
    const CollectedDiagnostics diagnostics;
    SetDiagnosticFile(name.c_str());
    SongPtr song = OpenSongImage(image, Parsing::AsItPlays);
    return CheckOpenedSong(name, std::move(song), diagnostics, recording, played);
}

std::string CheckReport(const SongCheck& check) {
    const std::string file = CleanText(check.file);
    if (check.verdict == Verdict::Unreadable)
        return Format("%s: unreadable: %s\n", file.c_str(), check.whyUnreadable.c_str());
    const Timeline& t = check.timeline;
    std::string report = Format("%s: %s\n", file.c_str(), std::string(VerdictKey(check.verdict)).c_str());
    report += Format("  title    %s\n", check.title.empty() ? "(none)" : check.title.c_str());
    report += Format("  length   %s, %s, %.1f s\n", Count(t.measures, "measure").c_str(), Count(t.lastTick, "tick").c_str(),
                     check.seconds);
    report += Format("  content  %s, %s, %s, %s\n", Count(t.notesOn, "note").c_str(), Count(t.rests, "rest").c_str(),
                     Count(t.ties, "tie").c_str(), Count(t.groups, "group").c_str());
    report += Format("  slots    peak %d of %d, first at tick %" PRId64 ", measure %d\n", t.peakSlots, kSongSlots, t.peakTick,
                     t.peakMeasure);
    const char* label = "  tracks   ";
    for (const CheckedTrack& track : check.tracks) {
        report += Format("%s%2d %-10s channel %d, patch %d %s, %s%s\n", label, track.track, track.name.c_str(),
                         track.channel, track.patch, InstrumentName(track.patch), Count(track.notes, "note").c_str(),
                         track.enabled ? "" : " (off in the enable mask, yet it plays)");
        label = "           ";
    }
    if (check.tracks.empty()) report += "  tracks   none sounds\n";
    if (t.errors.empty()) report += "  errors   none\n";
    label = "  errors   ";
    for (size_t i = 0; i < t.errors.size(); ++i) {
        const TimedError& e = t.errors[i];
        const std::string& name = check.errorTrackNames[i];
        const std::string where = !IsTrackNumber(e.error.track) ? "no track (track nibble 0)"
                                  : name.empty() ? Format("track %d", e.error.track)
                                                 : Format("track %d %s", e.error.track, name.c_str());
        report += Format("%stick %" PRId64 ", measure %d: error %d, %s: %s, note %s\n", label, e.tick, e.measure,
                         e.error.code, std::string(ErrorMeaning(e.error.code)).c_str(), where.c_str(),
                         NoteName(e.error.note));
        label = "           ";
    }
    if (t.stopReason != kStopNone)
        report += Format("  end      stopped at tick %" PRId64 ", measure %d: %s\n", t.lastTick, t.stopMeasure,
                         std::string(StopMeaning(t.stopReason)).c_str());
    else
        report += Format("  end      clean at tick %" PRId64 ", measure %d\n", t.lastTick, t.measures);
    if (check.damage) report += Format("  damage   %s\n", check.damage->message.c_str());
    return report;
}

std::string CheckSummary(const std::vector<Verdict>& verdicts) {
    std::array<int, kVerdictKeys.size()> count{};
    for (const Verdict verdict : verdicts) ++count[static_cast<size_t>(verdict)];
    auto of = [&](Verdict verdict) { return count[static_cast<size_t>(verdict)]; };
    return Format("%zu files: %d clean, %d damaged, %d with errors, %d stopped, %d unreadable\n", verdicts.size(),
                  of(Verdict::Clean), of(Verdict::Damaged), of(Verdict::Errors), of(Verdict::Stopped),
                  of(Verdict::Unreadable));
}
