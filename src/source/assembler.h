// Song source text (docs/source-language.md) into a song file.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class PlayabilityCheck;

struct SourceError {
    int line = 0;
    int column = 0;  // 0 when the message is about the whole line
    std::string message;
};

struct Assembly {
    std::vector<uint8_t> song;  // the whole file, when there is no error
    std::optional<SourceError> error;
};

// Larger texts are refused, so that line and column numbers fit an int.
inline constexpr size_t kMaxSourceSize = INT_MAX;

// Builds exactly what the text says, or names the first error. With a
// check, also refuses a song that breaks one of its rules, at the line
// where it does.
Assembly Assemble(std::string_view text, PlayabilityCheck* check = nullptr);

// "NAME:LINE:COLUMN: message", or "NAME:LINE: message" for a whole line.
std::string FormatSourceError(std::string_view sourceName, const SourceError& error);
