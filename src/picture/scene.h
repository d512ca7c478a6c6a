// What a picture of one playback shows: the measures asked for, and the
// notes, rests, controls, errors and slot use within them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "timeline/timeline.h"

inline constexpr int32_t kDefaultMeasures = 64;

// Measures `first` to `last` as the measure bars count them: bar N starts
// measure N. A range from measure 1 starts at tick 0, so it also holds what
// plays before the first bar.
struct MeasureRange {
    int32_t first = 1;
    int32_t last = kDefaultMeasures;
};
inline constexpr MeasureRange kAllMeasures{.first = 1, .last = INT32_MAX};
// "A-B" (1 <= A <= B), "N" for one measure, or "all"; nothing for anything else.
std::optional<MeasureRange> ParseMeasureRange(std::string_view text);

// What a check keeps of the playback to draw `range`: the notes and rests
// that start up to its end (each with its end, however late), and the slot
// levels until then. Past those measures it keeps nothing, so drawing the
// start of a long song costs little more than checking it.
RecorderOptions RecordingFor(MeasureRange range);

struct Scene {
    std::string title;           // clean text, never empty
    MeasureRange measures;       // drawn, within the song's
    int32_t songMeasures = 1;    // a song without measure bars is one measure
    int64_t from = 0;            // the ticks drawn
    int64_t to = 0;
    std::vector<TimedNote> notes;        // notes and rests sounding within, in the order they started
    std::vector<TimedControl> controls;  // bars, repeats, tempos, keys and times within; the tempo,
                                         // key and time in effect at `from` as if set there
    std::vector<TimedError> errors;
    std::vector<std::string> errorTrackNames;  // by error, the name of its track
    std::vector<SlotLevel> levels;       // the first at `from`
    std::array<std::optional<CheckedTrack>, kTrackCount> tracks;  // the tracks that sounded a note
    int32_t stopReason = kStopNone;      // a stop within the picture, at `to`
    int32_t stopMeasure = 0;
};

// The measures of a song that played as `song` says: at least one.
int32_t SongMeasures(const Timeline& song);
// The scene of `range` (which must start within the song's measures; its
// end is cut to the song's) from a check that recorded RecordingFor(range).
// It takes the notes and slot levels out of the check's timeline (a long
// song's are tens of megabytes; the rest of the check stays as it was).
Scene MakeScene(SongCheck& check, MeasureRange range);
