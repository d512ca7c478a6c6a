// Builds song files byte by byte: a 520-byte header and an event stream, one
// readable call per header field or stream event. Used by the tests and the
// song generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "song/song.h"

struct StreamEvent;

class SongWriter {
public:
    // Flags of Note(): the bits of SEVENT::flags.
    static constexpr uint32_t kRest = kFlagRest;
    static constexpr uint32_t kTieBegin = kFlagTieBegin;
    static constexpr uint32_t kTieEnd = kFlagTieEnd;
    static constexpr uint32_t kAccent = kFlagAccent;

    SongWriter();  // an all-zero header and an empty stream

    // Header. Texts longer than their field are cut to it; a title of 32
    // characters fills its field with no zero byte.
    SongWriter& Title(std::string_view title);
    SongWriter& TrackName(int track, std::string_view name);
    SongWriter& ChanRange(int track, uint8_t byte);  // low nibble channel+1, high nibble octave code
    SongWriter& Patch(int track, uint8_t byte);
    SongWriter& EnableMask(uint16_t mask);  // bit t enables track t
    SongWriter& HeaderByte(size_t offset, uint8_t byte);
    // A track in one line: name, 0-based channel, octave code, patch, enabled.
    SongWriter& Track(int track, std::string_view name, int channel, int octave, int patch, bool enabled = true);

    // Event stream.
    SongWriter& KeySignature(uint8_t code);    // 80 00 code
    SongWriter& Tempo(uint8_t tempo);          // 81 tempo
    SongWriter& MeasureBar();                  // 82
    SongWriter& TimeSignature(int8_t code);    // 83 code
    SongWriter& Loudness(int8_t loudness);     // 84 00 loudness
    SongWriter& RepeatStart(int8_t count);     // 85 count
    SongWriter& RepeatEnd();                   // 86, ends the group
    // A note on a 0-based track 0..14 (-1 writes the nibble 0; give it a
    // flag, since a first byte of 0x00 would end the group instead).
    SongWriter& Note(int track, int durationCode, int note, uint32_t flags = 0);
    SongWriter& Rest(int track, int durationCode, uint32_t flags = 0);
    SongWriter& EndGroup();                    // 00
    SongWriter& EndSong();                     // FF
    SongWriter& Event(const StreamEvent& event);
    SongWriter& Raw(std::initializer_list<uint8_t> bytes);
    SongWriter& Raw(const std::vector<uint8_t>& bytes);

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    size_t StreamSize() const;
    // Writes the bytes to `path`; false when the file cannot be written.
    bool WriteFile(const std::string& path) const;

private:
    std::vector<uint8_t> bytes_;
};

// Stream bytes of one note: track nibble and flags, duration and accent, note.
std::vector<uint8_t> NoteBytes(int track, int durationCode, int note, uint32_t flags = 0);
