// What reading a song meets, for whoever wants to show it: the trace prints
// the raw header bytes and the tempo bytes as it has always printed them;
// every other reader passes no listener and is told nothing.
#pragma once

#include <cstdint>

struct SSONG;

class SongReadListener {
public:
    virtual ~SongReadListener() = default;

    // The header's track bytes are about to be read.
    virtual void HeaderReading(const SSONG& /*song*/) {}
    // The raw Chan-Range and Patch bytes of `track`.
    virtual void TrackBytesRead(const SSONG& /*song*/, int /*track*/, int8_t /*chanRange*/, int8_t /*patch*/) {}
    // A tempo event's byte, as the file holds it.
    virtual void TempoRead(const SSONG& /*song*/, uint8_t /*tempo*/) {}
};
