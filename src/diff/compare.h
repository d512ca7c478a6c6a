// Two sides compared note by note, the way transcriptions are scored: notes
// of one channel and pitch are paired in time order, each with at most one
// of the other side, nearest onset first; what is left over is only in one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "diff/diff_side.h"

// A paired note moved further than this (a measure of 4/4) is a removed
// note and an added one rather than one note moved.
inline constexpr int64_t kMovedAtMost = 192;

enum class DiffKind : uint8_t { Removed, Added, Moved, Repitched, Longer, Shorter, Louder, Softer, Tempo, Key, Time, kCount };
inline constexpr std::array<std::string_view, static_cast<size_t>(DiffKind::kCount)> kDiffKindNames = {
    "removed", "added", "moved", "repitched", "longer", "shorter", "louder", "softer", "tempo", "key", "time"};
inline std::string_view DiffKindName(DiffKind kind) { return kDiffKindNames[static_cast<size_t>(kind)]; }

// One note or conductor change that is not the same in both. A paired note
// that differs in more than one way is one difference: its kind is the
// first that applies of moved, longer or shorter, louder or softer.
struct Difference {
    DiffKind kind = DiffKind::Removed;
    int64_t tick = 0;     // the earlier onset (or tick) of the two
    int32_t measure = 0;  // of the reference side at `tick`
    // The note or the change in each side, if it has one: pointers into the
    // sides compared, which outlive the result.
    const DiffNote* a = nullptr;
    const DiffNote* b = nullptr;
    const DiffControl* controlA = nullptr;
    const DiffControl* controlB = nullptr;
};

struct DiffCounts {
    int64_t matched = 0;  // pairs of one channel and pitch whose onsets agree within the tolerance
    int64_t onlyInA = 0;
    int64_t onlyInB = 0;
    // Each way a paired note differs counts (a note moved and made louder counts twice).
    std::array<int64_t, static_cast<size_t>(DiffKind::kCount)> byKind{};
    int64_t Of(DiffKind kind) const { return byKind[static_cast<size_t>(kind)]; }
};

struct DiffScore {
    double precision = 1;  // of B's notes, the share matched
    double recall = 1;     // of A's notes, the share matched
    double fMeasure = 1;
};

struct DiffResult {
    bool same = true;
    std::optional<int64_t> firstTick;
    int32_t firstMeasure = 0;
    DiffCounts counts;
    std::vector<Difference> differences;  // in time order
    DiffScore score;
    bool measuresOfB = false;  // the measures are B's (A is a MIDI file and B a song)
};

struct CompareOptions {
    int64_t tolerance = 0;  // ticks onsets and lengths may differ by and still agree
};

DiffResult Compare(const DiffSide& a, const DiffSide& b, const CompareOptions& options);
