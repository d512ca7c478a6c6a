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

// A pair the matcher may make, before it is ranked.
struct Link {
    uint32_t a;
    uint32_t b;
};

// Makes the pairs nearest first, each note in one pair at most. A link that
// is the only one of both its notes is made at once: in songs that agree
// nearly every pair is such, and needs no ranking.
void PairNearestFirst(const DiffSide& a, const DiffSide& b, const std::vector<Link>& links, Pairing& pairing) {
    std::vector<uint8_t> ofA(pairing.ofA.size()), ofB(pairing.ofB.size());  // links of each note, up to 2
    for (const Link& link : links) {
        ofA[link.a] = static_cast<uint8_t>(std::min(ofA[link.a] + 1, 2));
        ofB[link.b] = static_cast<uint8_t>(std::min(ofB[link.b] + 1, 2));
    }
    std::vector<Candidate> candidates;
    for (const Link& link : links) {
        if (ofA[link.a] == 1 && ofB[link.b] == 1) {
            pairing.ofA[link.a] = link.b;
            pairing.ofB[link.b] = link.a;
        } else {
            candidates.push_back(CandidateOf(a.notes[link.a], b.notes[link.b], link.a, link.b));
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const Candidate& candidate : candidates) {
        if (pairing.ofA[candidate.a] != kAlone || pairing.ofB[candidate.b] != kAlone) continue;
        pairing.ofA[candidate.a] = candidate.b;
        pairing.ofB[candidate.b] = candidate.a;
    }
}

// A note not yet paired, with the key its pairs share.
struct Keyed {
    int64_t key;
    int64_t on;
    uint32_t index;
};

// The notes not yet paired by key, then onset: a counting sort over the
// keys (`keys` of them), as a side's notes come in onset order.
template <typename Key>
std::vector<Keyed> Unpaired(const std::vector<DiffNote>& notes, const std::vector<uint32_t>& partners, Key key,
                            size_t keys) {
    std::vector<size_t> start(keys + 1);
    for (uint32_t i = 0; i < notes.size(); ++i)
        if (partners[i] == kAlone) ++start[static_cast<size_t>(key(notes[i])) + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<Keyed> order(start.back());
    for (uint32_t i = 0; i < notes.size(); ++i)
        if (partners[i] == kAlone) {
            const int64_t k = key(notes[i]);
            order[start[static_cast<size_t>(k)]++] = {k, notes[i].on, i};
        }
    return order;
}

// Pairs the unpaired notes of A and B that share `key` and whose onsets are
// at most `window` apart.
template <typename Key>
void PairWithin(const DiffSide& a, const DiffSide& b, int64_t window, Key key, size_t keys, Pairing& pairing) {
    const std::vector<Keyed> left = Unpaired(a.notes, pairing.ofA, key, keys);
    const std::vector<Keyed> right = Unpaired(b.notes, pairing.ofB, key, keys);
    if (left.empty() || right.empty()) return;
    std::vector<Link> links;
    size_t from = 0;  // the first note of B that may pair with the current one of A
    for (const Keyed& x : left) {
        const auto before = [&](const Keyed& y) { return y.key != x.key ? y.key < x.key : y.on < x.on - window; };
        while (from < right.size() && before(right[from])) ++from;
        for (size_t j = from; j < right.size() && right[j].key == x.key && right[j].on <= x.on + window; ++j)
            links.push_back({x.index, right[j].index});
    }
    PairNearestFirst(a, b, links, pairing);
}

constexpr size_t kChannels = 16;
constexpr size_t kPitches = 128;
constexpr auto kChannelAndPitch = [](const DiffNote& note) {
    return int64_t{note.channel & 15} * int64_t{kPitches} + (note.pitch & 127);
};
constexpr auto kChannel = [](const DiffNote& note) { return int64_t{note.channel & 15}; };

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
    return Difference{.kind = *first, .tick = std::min(x.on, y.on), .a = &x, .b = &y};
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
    const size_t before = differences.size();
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
                                           .controlA = left[i],
                                           .controlB = right[j]});
                break;
            }
        }
    };
    pair(true);
    pair(false);
    for (size_t i = 0; i < left.size(); ++i)
        if (!pairedLeft[i]) differences.push_back({.kind = KindOf(kind), .tick = left[i]->tick, .controlA = left[i]});
    for (size_t j = 0; j < right.size(); ++j)
        if (!pairedRight[j])
            differences.push_back({.kind = KindOf(kind), .tick = right[j]->tick, .controlB = right[j]});
    counts.byKind[static_cast<size_t>(KindOf(kind))] += static_cast<int64_t>(differences.size() - before);
}

// Differences in time order; at one tick notes first, by channel and
// pitch, alike for both directions of a comparison. Each gets its rank in
// one word beside its tick, so that a million of them sort fast.
void SortDifferences(std::vector<Difference>& differences) {
    struct Ranked {
        int64_t tick;
        uint32_t rank;
        uint32_t index;
        bool operator<(const Ranked& other) const {
            return tick != other.tick ? tick < other.tick : rank != other.rank ? rank < other.rank : index < other.index;
        }
    };
    std::vector<Ranked> order;
    order.reserve(differences.size());
    for (uint32_t i = 0; i < differences.size(); ++i) {
        const Difference& d = differences[i];
        const uint32_t kind = d.a || d.b ? 0 : static_cast<uint32_t>(d.kind);
        const uint32_t channel = d.a ? d.a->channel : d.b ? d.b->channel : 0;
        const uint32_t pitchA = d.a ? d.a->pitch : 128;
        const uint32_t pitchB = d.b ? d.b->pitch : 128;
        const uint32_t rank = kind << 24 | (channel & 15) << 18 | std::min(pitchA, pitchB) << 9 | std::max(pitchA, pitchB);
        order.push_back({d.tick, rank, i});
    }
    if (std::is_sorted(order.begin(), order.end())) return;
    std::sort(order.begin(), order.end());
    std::vector<Difference> sorted;
    sorted.reserve(differences.size());
    for (const Ranked& ranked : order) sorted.push_back(differences[ranked.index]);
    differences = std::move(sorted);
}

double Share(int64_t part, int64_t whole) { return whole == 0 ? 1.0 : static_cast<double>(part) / static_cast<double>(whole); }

}  // namespace

DiffResult Compare(const DiffSide& a, const DiffSide& b, const CompareOptions& options) {
    const int64_t tolerance = std::max<int64_t>(options.tolerance, 0);
    Pairing pairing{.ofA = std::vector<uint32_t>(a.notes.size(), kAlone),
                    .ofB = std::vector<uint32_t>(b.notes.size(), kAlone)};
    // The same notes first, then the same pitches moved, then other pitches
    // at the same onset.
    PairWithin(a, b, tolerance, kChannelAndPitch, kChannels * kPitches, pairing);
    PairWithin(a, b, std::max(tolerance, kMovedAtMost), kChannelAndPitch, kChannels * kPitches, pairing);
    PairWithin(a, b, tolerance, kChannel, kChannels, pairing);

    DiffResult result;
    DiffCounts& counts = result.counts;
    for (uint32_t i = 0; i < a.notes.size(); ++i) {
        const DiffNote& x = a.notes[i];
        if (pairing.ofA[i] == kAlone) {
            ++counts.onlyInA;
            Count(counts, DiffKind::Removed);
            result.differences.push_back({.kind = DiffKind::Removed, .tick = x.on, .a = &x});
        } else if (std::optional<Difference> difference =
                       PairDifference(x, b.notes[pairing.ofA[i]], tolerance, counts)) {
            result.differences.push_back(*difference);
        }
    }
    for (uint32_t j = 0; j < b.notes.size(); ++j) {
        if (pairing.ofB[j] != kAlone) continue;
        ++counts.onlyInB;
        Count(counts, DiffKind::Added);
        result.differences.push_back({.kind = DiffKind::Added, .tick = b.notes[j].on, .b = &b.notes[j]});
    }
    for (const ConductorKind kind : {ConductorKind::Tempo, ConductorKind::Key, ConductorKind::Time})
        CompareControls(a, b, kind, tolerance, result.differences, counts);

    SortDifferences(result.differences);
    result.measuresOfB = a.midiFile && !b.midiFile;
    const MeasureMap& measures = result.measuresOfB ? b.measures : a.measures;
    MeasureMap::Walk walk(measures);
    for (Difference& difference : result.differences) difference.measure = walk.At(difference.tick);
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
