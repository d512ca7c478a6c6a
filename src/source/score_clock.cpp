#include "source/score_clock.h"

#include <algorithm>

#include "song/tables.h"

ScorePosition ScoreClock::Place(std::span<const StreamEvent> group) {
    int32_t length = 0;
    for (const StreamEvent& event : group) {
        if (event.IsNote())
            length = std::max(length, DurationTicks(event.Duration()));
        else if (event.Code() == kCodeMeasureBar)
            ++next_.measure;
    }
    const ScorePosition position = next_;
    next_.tick += length;
    return position;
}
