// Loading a song file into one block (record, file image, note slot pool),
// reading its 520-byte header, and releasing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "song/codec.h"
#include "song/song.h"

// Reads the whole file into a new song with `noteCount` free slots. Returns
// null, with the reason on standard error, when the file cannot be looked
// up, is a folder, is shorter than the header or larger than
// kMaxImageSize, cannot be opened or read in full, or memory runs out.
SSONG* LoadSong(const char* fileName, int32_t noteCount);
// The same from an image already in memory, diagnosed under the name that
// SetDiagnosticFile last set.
SSONG* LoadSongImage(std::span<const uint8_t> image, int32_t noteCount);
// The same read as a stream, for files that are not regular (a pipe, <(...)),
// up to the same limit.
SSONG* LoadSongStream(const char* fileName, int32_t noteCount);
// The song at `path`, or on standard input when `path` is "-".
SSONG* LoadSongInput(const std::string& path, int32_t noteCount);
// Every byte of standard input, or nothing (diagnosed) when it cannot be read.
std::optional<std::vector<uint8_t>> ReadStandardInput();
// False, with the reason diagnosed, for a size no song file can have.
bool CheckImageSize(size_t size);
// How diagnostics name standard input.
inline constexpr const char* kStandardInputName = "standard input";
// Releases the song, every parsed group and the block itself.
void FreeSong(SSONG* song);

// Prints the raw Chan-Range and Patch bytes of every track and fills the
// track table and the title from the header.
void GetSongParameters(SSONG* song);
// Clears the pool, sets the group timer to 100, reads the track enable mask
// and places the parse cursor at the event stream.
void InitSong(SSONG* song);
void ResetNotes(SSONG* song);
uint16_t SwapBytes16(uint16_t word);
