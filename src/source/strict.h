// `asm --strict`: the song just assembled is played by the engine, as
// `songsim check` plays it, and refused at the source line where playback
// went wrong. What plays cleanly is the engine's to say, not a second set
// of rules here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "source/assembler.h"

// The first error or stop of playing `song` (a whole song file), or damage
// to its stream, at the line of the group playback was applying or had
// applied last; nothing when it plays cleanly. `lines` maps stream offsets
// to source lines, as the assembler made them.
std::optional<SourceError> RefuseUnclean(std::span<const uint8_t> song, std::span<const SourceLine> lines);
