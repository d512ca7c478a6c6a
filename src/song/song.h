// The records every part of songsim shares: the song, its tracks, the decoded
// events and the note slots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "containers/list.h"

// Bits of SEVENT::flags.
inline constexpr uint32_t kFlagRest = 1u << 0;
inline constexpr uint32_t kFlagTieBegin = 1u << 1;
inline constexpr uint32_t kFlagTieEnd = 1u << 2;
inline constexpr uint32_t kFlagAccent = 1u << 4;

inline constexpr int32_t kEventNote = 0;
inline constexpr int32_t kEventControl = 1;

// Control codes of the event stream.
inline constexpr int32_t kCodeGroupEnd = 0x00;
inline constexpr int32_t kCodeKeySignature = 0x80;
inline constexpr int32_t kCodeTempo = 0x81;
inline constexpr int32_t kCodeMeasureBar = 0x82;
inline constexpr int32_t kCodeTimeSignature = 0x83;
inline constexpr int32_t kCodeLoudness = 0x84;
inline constexpr int32_t kCodeRepeatStart = 0x85;
inline constexpr int32_t kCodeRepeatEnd = 0x86;
inline constexpr int32_t kCodeSongEnd = 0xFF;

// One decoded event; the events of a group are chained through `next`.
struct SEVENT {
    int32_t kind;   // kEventNote or kEventControl
    SEVENT* next;   // next event of the same group, null for the last
    int32_t code;   // note number, or control code
    int32_t value;  // duration code of a note, parameter of a control event
    int32_t track;  // 0-based track of a note (-1 when the nibble is 0)
    uint32_t flags; // kFlag... bits of a note
};

// One note slot of the playback pool.
struct SNOTE {
    int16_t channel;
    int16_t remaining;  // ticks left; may go below zero
    int16_t note;
    int16_t durationCode;
    int16_t velocity;
    int16_t track;
    uint8_t rest;
    uint8_t tieBegin;
    uint8_t tieEnd;
    uint8_t inUse;
};

// SSONG::streamState of a song parsed as it plays.
inline constexpr int32_t kStreamParsedUpFront = 0;
inline constexpr int32_t kStreamLive = 1;    // more groups to parse
inline constexpr int32_t kStreamEnded = 2;   // the song-end group has been parsed
inline constexpr int32_t kStreamFailed = 3;  // memory ran out while parsing

// Told what playback does (playback/listener.h), and what reading the song
// meets (song/read_listener.h).
class PlaybackListener;
class SongReadListener;

inline constexpr int kTrackCount = 15;
// Tracks are numbered 0..14; a note's nibble of 0 gives -1, which is none.
constexpr bool IsTrackNumber(int32_t track) { return track >= 0 && track < kTrackCount; }
inline constexpr int kTrackNameLength = 10;
inline constexpr int kTitleSize = 34;

struct STRACK {
    char name[kTrackNameLength + 1];
    uint8_t enabled;
    int16_t patch;
    int16_t loudness;
    int16_t channel;
    int16_t octaveShift;
    int16_t octave;
};

// The song: header data, playback state, the parsed groups and, from `data`
// on, the raw file image followed by the note slot pool, all in one block
// made by LoadSong.
struct SSONG {
    int32_t errorCount;
    int32_t barsParsed;  // measure bars met by the parser
    int32_t tickPeriod;
    int32_t ticks;
    char title[kTitleSize];
    STRACK tracks[kTrackCount];
    SNOTE* notes;
    int32_t songEnd;
    int32_t activeCount;
    int32_t noteCount;
    int32_t groupCount;
    const uint8_t* cursor;
    SEVENT* current;
    SLIST events;
    // Whether the groups were parsed up front (0), or are parsed as playback
    // reaches them (kStream...) and let go of once played.
    int32_t streamState;
    // Where the parser found the stream cut: the offset of the song end it
    // put in (the start of the cut event, or the end of the file), 0 if none.
    size_t streamCutAt;
    // The state of this song's one playback, beside the counters above.
    int32_t noteOnOff;           // NOTE ON traces minus NOTE OFF traces
    int32_t barsPlayed;          // measure bars applied, priming included: the song's measure
    int64_t clock;               // the tick playback is in: priming is tick 0, the n-th tick is tick n
    int32_t stopReason;          // why playback stopped (kStop...), 0 while it has not
    PlaybackListener* listener;  // told what playback does; may be null
    SongReadListener* readListener;  // told what the header and the parse meet; may be null
    size_t dataSize;  // bytes of the file image; every read stops here
    uint8_t data[8];  // the image begins here and runs on past the record
};

// The file image, as a pointer that may be indexed up to dataSize.
// (Addressed from the block start, since `data` itself is declared short.)
inline uint8_t* SongImage(SSONG* song) {
    return reinterpret_cast<uint8_t*>(song) + offsetof(SSONG, data);
}
inline const uint8_t* SongImage(const SSONG* song) {
    return reinterpret_cast<const uint8_t*>(song) + offsetof(SSONG, data);
}
inline const uint8_t* SongImageEnd(const SSONG* song) { return SongImage(song) + song->dataSize; }
