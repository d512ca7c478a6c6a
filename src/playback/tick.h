// The tick engine: priming, one call per tick, and the whole playback.
#pragma once

#include <cstdint>

#include "song/song.h"

inline constexpr int32_t kTickSongOver = 0;
inline constexpr int32_t kTickDone = 1;
inline constexpr int32_t kTickGroupsDue = 2;
inline constexpr int32_t kTickStopped = 3;  // a fatal condition: song->stopReason says which

// Applies groups until the first note or rest holds a slot, or the song ends.
void PrimePlayback(SSONG* song);

// Counts every slot in use down by one, tracing NOTE OFF at 2 and giving the
// slot back at 0. Returns 1 when a tied note ran out. Stops playback (sets
// song->stopReason and returns at once) on an untied slot held past its
// end, and once the song end has been applied.
int32_t UpdateNotes(SSONG* song);
// One tick: advances the tick clock, counts down the group timer and the
// slots and applies the next groups when they are due. Returns kTickSongOver
// once the song has ended with no slot in use, kTickStopped on a fatal
// condition (the timer below -1000 among them).
int32_t PlayTick(SSONG* song);

// The number of coming ticks that are quiet: ticks in which nothing happens
// but the countdown of the group timer and the slots.
int32_t QuietTicks(const SSONG* song);
// Plays every quiet tick ahead at once, with exactly the state and reports
// that as many PlayTick calls would give; long notes make most ticks quiet.
void PlayQuietTicks(SSONG* song);
// Plays from the primed song to its end: returns kTickSongOver or kTickStopped.
int32_t PlayToEnd(SSONG* song);
// Primes and plays a parsed song to its end, telling `listener` everything.
int32_t PlaySong(SSONG* song, PlaybackListener& listener);
