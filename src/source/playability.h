// The checks of `songsim asm --strict`: a song that keeps to them plays
// from start to end without an error of the player. Each hook returns the
// reason to refuse the song, or nothing.
#pragma once

#include <array>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>

#include "song/song.h"
#include "source/events.h"

class PlayabilityCheck {
public:
    // `slots`: the note slots of the player.
    explicit PlayabilityCheck(int slots) : slots_(slots) {}

    void DeclareTrack(int track);
    // The events of one group, written on source line `line`.
    std::optional<std::string> Group(int line, std::span<const StreamEvent> events);
    // Raw bytes, which the player reads as whatever events they code.
    std::optional<std::string> RawBytes() const;
    // After the last line.
    std::optional<std::string> Finish() const;

private:
    using Tie = std::pair<int, int>;  // track and note of a tie-begin note

    std::optional<std::string> Note(const StreamEvent& note, std::set<Tie>& tiesOut);

    int slots_;
    std::array<bool, kTrackCount> declared_{};
    std::set<Tie> tiesIn_;  // tie-begin notes of the last group with notes
    int tieLine_ = 0;
    bool ended_ = false;
};
