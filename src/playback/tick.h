// The tick engine: one call per tick of the playback simulation.
#pragma once

#include <cstdint>

#include "song/song.h"

inline constexpr int32_t kTickSongOver = 0;
inline constexpr int32_t kTickDone = 1;
inline constexpr int32_t kTickGroupsDue = 2;

// Counts every slot in use down by one, tracing NOTE OFF at 2 and giving the
// slot back at 0. Returns 1 when a tied note ran out. Stops the process on
// an untied slot held past its end, and once the song end has been applied.
int32_t UpdateNotes(SSONG* song);
// One tick: counts down the group timer and the slots and applies the next
// groups when they are due. Returns kTickSongOver once the song has ended
// with no slot in use. Stops the process when the timer falls below -1000.
int32_t PlayTick(SSONG* song);

// The number of coming ticks that are quiet: ticks in which nothing happens
// but the countdown of the group timer and the slots and the tick line.
int32_t QuietTicks(const SSONG* song);
// Plays every quiet tick ahead at once, with exactly the output and state
// that as many PlayTick calls would give; long notes make most ticks quiet.
void PlayQuietTicks(SSONG* song);
