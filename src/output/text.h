// Titles and track names are bytes, not text. Before they go into a report,
// JSON, XML, or a MIDI text event they are made into valid UTF-8 with no
// control characters, so that no reader chokes and no terminal obeys them.
#pragma once

#include <string>
#include <string_view>

// Keeps valid UTF-8 as it is and puts U+FFFD in place of each byte that
// starts no valid sequence and of each control character.
std::string CleanText(std::string_view bytes);

// For messages: keeps valid UTF-8 as it is and shows each control character
// and each byte that starts no valid sequence as \xHH (an ESC as \x1b), so
// that a message quoting a file name or a line of a source can be printed
// safely and still says which bytes were there.
std::string EscapeText(std::string_view bytes);

// printf into a std::string, however long the result.
[[gnu::format(printf, 1, 2)]] std::string Printed(const char* format, ...);
