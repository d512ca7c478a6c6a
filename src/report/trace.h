// The trace: what playback does, printed line by line as songsim has always
// printed it.
#pragma once

#include "playback/listener.h"
#include "report/tick_lines.h"

class TraceListener final : public PlaybackListener {
public:
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

private:
    TickLines ticksLines_;
};
