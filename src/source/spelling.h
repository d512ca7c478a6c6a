// The words of the song source language for single values, both ways:
// durations, keys, time signatures, pitches, notes, numbers and quoted texts.
// Names come from the code tables; a code without a name is written as its
// number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "song/codec.h"
#include "source/text_out.h"

// The codes of a note's 5-bit duration field.
inline constexpr int kDurationCodes = 32;

// "q", "e.", "h3" (plain, dotted, triplet); empty for a code without one.
std::string_view DurationWord(int code);
std::optional<int> DurationCode(std::string_view word);
// Major keys by their tonic ("F", "Bb"); empty for a code without one.
std::string_view KeyWord(int code);
std::optional<int> KeyCode(std::string_view word);
// "3/4"; empty for a code without one.
std::string_view TimeWord(int code);
std::optional<int> TimeCode(std::string_view word);
// A letter, then '#' or 'b', then the octave: C5 is note 60. Notes 0..127.
std::optional<int> Pitch(std::string_view word);

// A decimal or 0x hexadecimal integer, with an optional '-'.
std::optional<int64_t> ParseNumber(std::string_view word);
// "0x1F" for (0x1F, 2), "0x001F" for (0x1F, 4).
void AppendHex(TextOut& out, uint32_t value, int digits);

// A note as TRACK:DURATION:PITCH+flags, or TRACK:DURATION:rest+flags for a
// rest of note number 0.
void AppendNote(TextOut& out, const StreamEvent& note);

// Texts in double quotes hold any bytes: printable ASCII stands for
// itself, \" and \\ for the quote and the backslash, \xHH for any byte.
void AppendQuoted(TextOut& out, std::span<const uint8_t> bytes);
struct Unquoted {
    std::string bytes;
    size_t errorAt = std::string_view::npos;  // offset in the word of a bad escape
};
// `word` starts and ends with the quote.
Unquoted Unquote(std::string_view word);
