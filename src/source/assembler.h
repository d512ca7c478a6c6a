// Song source text (docs/source-language.md) into a song file.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SourceError {
    int line = 0;
    int column = 0;  // 0 when the message is about the whole line
    std::string message;
};

// Where the bytes of a line begin in the song: one for each line that puts
// events or bytes into the stream, in the order of their offsets.
struct SourceLine {
    size_t offset;
    int line;
};

struct Assembly {
    std::vector<uint8_t> song;  // the whole file, when there is no error
    std::optional<SourceError> error;
    std::vector<SourceLine> lines;  // when asked for
};

// Whether to map the stream back to its lines (for `asm --strict`).
enum class LineMap { Skip, Keep };

// A text may be of any size (what dis writes for the largest song songsim
// reads is over 2 GiB), but a line may not be longer, nor the lines more
// than this, so that line and column numbers fit an int. The song it builds
// may not be larger than songsim reads, and a NUL byte, which no source
// holds, ends the assembly at once.
inline constexpr size_t kMaxSourceLine = INT_MAX;

// Builds exactly what the text says, or names the first error.
Assembly Assemble(std::string_view text, LineMap map = LineMap::Skip);

// A text read in turn: each call gives the next piece (pieces may cut a line
// anywhere), an empty one at the end.
using SourcePieces = std::function<std::string_view()>;
// The same for a text read in pieces: each line is assembled as soon as it
// is whole, so that a long text is never held in memory. `sizeHint`, the
// text's size when it is known (else 0), makes room for the song up front.
Assembly Assemble(const SourcePieces& pieces, size_t sizeHint, LineMap map = LineMap::Skip);

// "NAME:LINE:COLUMN: message", or "NAME:LINE: message" for a whole line.
std::string FormatSourceError(std::string_view sourceName, const SourceError& error);
