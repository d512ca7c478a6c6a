// Titles and track names are bytes, not text. Before they go into a report,
// JSON, XML, or a MIDI text event they are made into valid UTF-8 with no
// control characters, so that no reader chokes and no terminal obeys them.
#pragma once

#include <string>
#include <string_view>

// Keeps valid UTF-8 as it is and puts U+FFFD in place of each byte that
// starts no valid sequence and of each control character.
std::string CleanText(std::string_view bytes);
