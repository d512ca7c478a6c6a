// Where each group of a song stands, for the comments of the disassembly:
// its measure and its start tick.
//
// The tick is the tick as written, counted in the score: a group lasts as
// long as its longest note or rest (tie continuations included), a group
// without notes lasts no tick, and a quarter note is 48 ticks. The playback
// engine runs differently (it loads the group timer with one tick less than
// a note's length, and applies groups of control events with the next group
// that takes a slot). To show the engine's own ticks instead, give the
// disassembler positions from the engine, one per group, in place of this
// clock.
#pragma once

#include <cstdint>
#include <span>

#include "source/events.h"

struct ScorePosition {
    int64_t measure = 0;  // measure bars so far, the group's own included
    int64_t tick = 0;     // start tick of the group
};

class ScoreClock {
public:
    // The position of the next group, whose events are `group`; the clock
    // then stands after it.
    ScorePosition Place(std::span<const StreamEvent> group);

private:
    ScorePosition next_;
};
