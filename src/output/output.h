// Everything songsim reports goes through here: formatted printing to one
// stream, standard output unless a caller (a test, the fuzzer) swaps it.
#pragma once

#include <cstdio>
#include <string_view>

[[gnu::format(printf, 1, 2)]] void Out(const char* format, ...);
// Prints text as it stands: for lines printed so often (one per tick) that
// their callers put them together from fixed parts.
void OutText(std::string_view text);
void OutFlush();
// Sets the stream that Out writes to and returns the previous one.
std::FILE* SetOutput(std::FILE* stream);

// Diagnostics that are not part of the program's output: one line on standard
// error, "songsim: <file>: <message>". LoadSong names the file.
[[gnu::format(printf, 1, 2)]] void Diagnose(const char* format, ...);
void SetDiagnosticFile(const char* fileName);
