#include "diff/compare.h"

#include <algorithm>
#include <numeric>
#include <tuple>

namespace {

constexpr uint32_t kAlone = UINT32_MAX;

int64_t Distance(int64_t x, int64_t y) { return x < y ? y - x : x - y; }

// A pair the matcher may make, ranked so that the nearest pairs are made
// first. The rank looks at both notes alike, so comparing B with A pairs
// the same notes as comparing A with B.
struct Candidate {
    int64_t onsets;   // how far apart the onsets are
    int64_t pitches;
    int64_t ends;
    int64_t loudness;
    int64_t tracks;   // 0 on one track number, else 1
    int64_t earlier;  // the earlier onset, then the later
    int64_t later;
    uint32_t a;
    uint32_t b;

    auto Rank() const { return std::tie(onsets, pitches, ends, loudness, tracks, earlier, later, a, b); }
    bool operator<(const Candidate& other) const { return Rank() < other.Rank(); }
};

Candidate CandidateOf(const DiffNote& x, const DiffNote& y, uint32_t a, uint32_t b) {
    return {.onsets = Distance(x.on, y.on),
            .pitches = Distance(x.pitch, y.pitch),
            .ends = Distance(x.off, y.off),
            .loudness = Distance(x.velocity, y.velocity),
            .tracks = x.track == y.track ? 0 : 1,
            .earlier = std::min(x.on, y.on),
            .later = std::max(x.on, y.on),
            .a = a,
            .b = b};
}

struct Pairing {
    std::vector<uint32_t> ofA;  // by note of A, its partner in B or kAlone
    std::vector<uint32_t> ofB;
};

// Makes the candidate pairs nearest first, each note in one pair at most.
void PairNearestFirst(std::vector<Candidate>& candidates, Pairing& pairing) {
    std::sort(candidates.begin(), candidates.end());
    for (const Candidate& candidate : candidates) {
        if (pairing.ofA[candidate.a] != kAlone || pairing.ofB[candidate.b] != kAlone) continue;
        pairing.ofA[candidate.a] = candidate.b;
        pairing.ofB[candidate.b] = candidate.a;
    }
    candidates.clear();
}

// The indices of the notes not yet paired, ordered by `key` and then onset.
template <typename Key>
std::vector<uint32_t> Unpaired(const std::vector<DiffNote>& notes, const std::vector<uint32_t>& partners, Key key) {
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < notes.size(); ++i)
        if (partners[i] == kAlone) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
        return std::make_pair(key(notes[x]), notes[x].on) < std::make_pair(key(notes[y]), notes[y].on);
    });
    return order;
}

// Pairs the unpaired notes of A and B that share `key` and whose onsets are
// at most `window` apart.
template <typename Key>
void PairWithin(const DiffSide& a, const DiffSide& b, int64_t window, Key key, Pairing& pairing) {
    const std::vector<uint32_t> left = Unpaired(a.notes, pairing.ofA, key);
    const std::vector<uint32_t> right = Unpaired(b.notes, pairing.ofB, key);
    std::vector<Candidate> candidates;
    size_t from = 0;  // the first note of B that may pair with the current one of A
    for (const uint32_t i : left) {
        const DiffNote& x = a.notes[i];
        const auto before = [&](const DiffNote& y) {
            return std::make_pair(key(y), y.on) < std::make_pair(key(x), x.on - window);
        };
        while (from < right.size() && before(b.notes[right[from]])) ++from;
        for (size_t j = from; j < right.size(); ++j) {
            const DiffNote& y = b.notes[right[j]];
            if (key(y) != key(x) || y.on > x.on + window) break;
            candidates.push_back(CandidateOf(x, y, i, right[j]));
        }
    }
    PairNearestFirst(candidates, pairing);
}

int32_t ChannelAndPitch(const DiffNote& note) { return note.channel * 128 + note.pitch; }
int32_t Channel(const DiffNote& note) { return note.channel; }

void Count(DiffCounts& counts, DiffKind kind) { ++counts.byKind[static_cast<size_t>(kind)]; }

// The difference of a pair, if they differ; counts each way they do.
std::optional<Difference> PairDifference(const DiffNote& x, const DiffNote& y, int64_t tolerance, DiffCounts& counts) {
    std::optional<DiffKind> first;
    const auto differs = [&](DiffKind kind) {
        Count(counts, kind);
        if (!first) first = kind;
    };
    if (x.pitch != y.pitch) differs(DiffKind::Repitched);
    if (Distance(x.on, y.on) > tolerance) differs(DiffKind::Moved);
    const int64_t lengthA = x.off - x.on;
    const int64_t lengthB = y.off - y.on;
    if (lengthB - lengthA > tolerance) differs(DiffKind::Longer);
    if (lengthA - lengthB > tolerance) differs(DiffKind::Shorter);
    if (y.velocity > x.velocity) differs(DiffKind::Louder);
    if (y.velocity < x.velocity) differs(DiffKind::Softer);
    if (x.pitch == y.pitch && Distance(x.on, y.on) <= tolerance) ++counts.matched;
    if (!first) return std::nullopt;
    return Difference{.kind = *first, .tick = std::min(x.on, y.on), .a = x, .b = y};  // indices set by the caller
}

constexpr DiffKind KindOf(ConductorKind kind) {
    switch (kind) {
        case ConductorKind::Tempo: return DiffKind::Tempo;
        case ConductorKind::Key: return DiffKind::Key;
        case ConductorKind::Time: return DiffKind::Time;
    }
    return DiffKind::Tempo;
}

// Conductor changes of one kind: those at the same tick (within the
// tolerance) with the same value are the same; then those at the same tick
// with another value are one difference; the rest are in one side only.
void CompareControls(const DiffSide& a, const DiffSide& b, ConductorKind kind, int64_t tolerance,
                     std::vector<Difference>& differences, DiffCounts& counts) {
    std::vector<const DiffControl*> left, right;
    for (const DiffControl& control : a.controls)
        if (control.kind == kind) left.push_back(&control);
    for (const DiffControl& control : b.controls)
        if (control.kind == kind) right.push_back(&control);
    std::vector<bool> pairedLeft(left.size()), pairedRight(right.size());
    const auto pair = [&](bool sameValue) {
        size_t from = 0;
        for (size_t i = 0; i < left.size(); ++i) {
            if (pairedLeft[i]) continue;
            while (from < right.size() && right[from]->tick < left[i]->tick - tolerance) ++from;
            for (size_t j = from; j < right.size() && right[j]->tick <= left[i]->tick + tolerance; ++j) {
                if (pairedRight[j] || (left[i]->value == right[j]->value) != sameValue) continue;
                pairedLeft[i] = pairedRight[j] = true;
                if (!sameValue)
                    differences.push_back({.kind = KindOf(kind),
                                           .tick = std::min(left[i]->tick, right[j]->tick),
                                           .controlA = *left[i],
                                           .controlB = *right[j]});
                break;
            }
        }
    };
    pair(true);
    pair(false);
    for (size_t i = 0; i < left.size(); ++i)
        if (!pairedLeft[i]) differences.push_back({.kind = KindOf(kind), .tick = left[i]->tick, .controlA = *left[i]});
    for (size_t j = 0; j < right.size(); ++j)
        if (!pairedRight[j])
            differences.push_back({.kind = KindOf(kind), .tick = right[j]->tick, .controlB = *right[j]});
    for (const Difference& difference : differences)
        if (difference.kind == KindOf(kind)) Count(counts, KindOf(kind));
}

// Differences in time order; at one tick by channel and pitch, alike for
// both directions of a comparison.
bool EarlierDifference(const Difference& x, const Difference& y) {
    const auto rank = [](const Difference& d) {
        const bool note = d.a || d.b;
        const DiffNote& n = d.a ? *d.a : d.b ? *d.b : DiffNote{};
        const int pitchA = d.a ? d.a->pitch : 128;
        const int pitchB = d.b ? d.b->pitch : 128;
        const int kind = note ? 0 : static_cast<int>(d.kind);
        return std::make_tuple(d.tick, kind, int{n.channel}, std::min(pitchA, pitchB), std::max(pitchA, pitchB));
    };
    return rank(x) < rank(y);
}

double Share(int64_t part, int64_t whole) { return whole == 0 ? 1.0 : static_cast<double>(part) / static_cast<double>(whole); }

}  // namespace

DiffResult Compare(const DiffSide& a, const DiffSide& b, const CompareOptions& options) {
    const int64_t tolerance = std::max<int64_t>(options.tolerance, 0);
    Pairing pairing{.ofA = std::vector<uint32_t>(a.notes.size(), kAlone),
                    .ofB = std::vector<uint32_t>(b.notes.size(), kAlone)};
    // The same notes first, then the same pitches moved, then other pitches
    // at the same onset.
    PairWithin(a, b, tolerance, ChannelAndPitch, pairing);
    PairWithin(a, b, std::max(tolerance, kMovedAtMost), ChannelAndPitch, pairing);
    PairWithin(a, b, tolerance, Channel, pairing);

    DiffResult result;
    DiffCounts& counts = result.counts;
    for (uint32_t i = 0; i < a.notes.size(); ++i) {
        const DiffNote& x = a.notes[i];
        if (pairing.ofA[i] == kAlone) {
            ++counts.onlyInA;
            Count(counts, DiffKind::Removed);
            result.differences.push_back({.kind = DiffKind::Removed, .tick = x.on, .a = x, .indexA = i});
        } else if (std::optional<Difference> difference =
                       PairDifference(x, b.notes[pairing.ofA[i]], tolerance, counts)) {
            difference->indexA = i;
            difference->indexB = pairing.ofA[i];
            result.differences.push_back(*difference);
        }
    }
    for (uint32_t j = 0; j < b.notes.size(); ++j) {
        if (pairing.ofB[j] != kAlone) continue;
        ++counts.onlyInB;
        Count(counts, DiffKind::Added);
        result.differences.push_back({.kind = DiffKind::Added, .tick = b.notes[j].on, .b = b.notes[j], .indexB = j});
    }
    for (const ConductorKind kind : {ConductorKind::Tempo, ConductorKind::Key, ConductorKind::Time})
        CompareControls(a, b, kind, tolerance, result.differences, counts);

    std::stable_sort(result.differences.begin(), result.differences.end(), EarlierDifference);
    result.measuresOfB = a.midiFile && !b.midiFile;
    const MeasureMap& measures = result.measuresOfB ? b.measures : a.measures;
    for (Difference& difference : result.differences) difference.measure = measures.At(difference.tick);
    result.same = result.differences.empty();
    if (!result.same) {
        result.firstTick = result.differences.front().tick;
        result.firstMeasure = result.differences.front().measure;
    }
    DiffScore& score = result.score;
    score.precision = Share(counts.matched, static_cast<int64_t>(b.notes.size()));
    score.recall = Share(counts.matched, static_cast<int64_t>(a.notes.size()));
    const double sum = score.precision + score.recall;
    score.fMeasure = sum > 0 ? 2 * score.precision * score.recall / sum : 0;
    return result;
}
