// The trace: what playback does, printed line by line as songsim has always
// printed it.
#pragma once

#include "playback/listener.h"
#include "report/tick_lines.h"
#include "song/read_listener.h"

class TraceListener final : public PlaybackListener, public SongReadListener {
public:
    void HeaderReading(const SSONG& song) override;
    void TrackBytesRead(const SSONG& song, int track, int8_t chanRange, int8_t patch) override;
    void TempoRead(const SSONG& song, uint8_t tempo) override;

    void GroupApplying(const SSONG& song, int32_t banner) override;
    void GroupAfterEnd(const SSONG& song) override;
    void ControlApplied(const SSONG& song, const SEVENT& event) override;
    void SlotTaken(const SSONG& song, int slot, const SEVENT& event) override;
    void NoteOn(const SSONG& song, int slot) override;
    void TieSearched(const SSONG& song, int32_t note, int32_t channel, int found) override;
    void NoteOff(const SSONG& song, int slot) override;
    void ErrorRaised(const SSONG& song, const PlaybackError& error) override;
    void GroupsDue(const SSONG& song, DueReason reason) override;
    void GroupsApplied(const SSONG& song, DueReason reason) override;
    void SongOver(const SSONG& song) override;
    void TickEnded(const SSONG& song) override;
    void QuietTicks(const SSONG& song, int32_t count) override;
    void Stopped(const SSONG& song) override;

    // The next bar applied is traced as bar `counted` + 1.
    void CountBarsFrom(const SSONG& song, int32_t counted) { barsBefore_ = song.barsPlayed - counted; }

private:
    int32_t barsBefore_ = 0;
    TickLines ticksLines_;
};
