#include "import/importer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>
#include <set>
#include <span>
#include <system_error>
#include <thread>

#include "check/check.h"
#include "song/codec.h"
#include "song/tables.h"

namespace {

constexpr int kSlots = 16;
constexpr int kAccent = 20;
constexpr int kVelocityReported = 5;  // a written velocity further off than this is reported
constexpr int kOctaveCodeNone = 3;    // the octave code that shifts nothing
constexpr size_t kMidiKeys = 16 * 128;  // channels and pitches

// ---- Durations: which table code lasts a length, and a length as the fewest table durations.

constexpr std::array<int, 289> kCodeOfTicks = [] {
    std::array<int, 289> codes{};
    for (size_t code = 0; code < durationTable.size(); ++code)
        if (durationTable[code].ticks > 0) codes[static_cast<size_t>(durationTable[code].ticks)] = static_cast<int>(code);
    return codes;
}();

constexpr int kLongest = 288;
constexpr int kSolved = 2 * kLongest;  // lengths up to here are solved exactly; longer ones take 288s first

// Fewest pieces for every length up to kSolved: the last piece of the best split (0: none).
const std::array<int, kSolved + 1>& LastPieces() {
    static const std::array<int, kSolved + 1> last = [] {
        std::array<int, kSolved + 1> pieces{};
        std::array<int, kSolved + 1> count{};
        count.fill(1 << 20);
        count[0] = 0;
        for (int n = 1; n <= kSolved; ++n)
            for (int ticks = 1; ticks <= std::min(n, kLongest); ++ticks)
                if (kCodeOfTicks[static_cast<size_t>(ticks)] && count[static_cast<size_t>(n - ticks)] + 1 < count[static_cast<size_t>(n)]) {
                    count[static_cast<size_t>(n)] = count[static_cast<size_t>(n - ticks)] + 1;
                    pieces[static_cast<size_t>(n)] = ticks;
                }
        return pieces;
    }();
    return last;
}

// A length as table durations, longest first, into `pieces`; empty when none add up to it.
bool OnePiece(int64_t length);

void Pieces(int64_t length, std::vector<int>& pieces) {
    pieces.clear();
    if (OnePiece(length)) return pieces.push_back(static_cast<int>(length));  // most stretches
    for (; length > kSolved; length -= kLongest) pieces.push_back(kLongest);
    for (auto n = static_cast<size_t>(length); n > 0;) {
        const int piece = LastPieces()[n];
        if (piece == 0) {
            pieces.clear();
            return;
        }
        pieces.push_back(piece);
        n -= static_cast<size_t>(piece);
    }
    std::sort(pieces.begin(), pieces.end(), std::greater<>());
}

bool OnePiece(int64_t length) { return length <= kLongest && kCodeOfTicks[static_cast<size_t>(length)] != 0; }

// ---- The notes on the song's time.

struct Note {
    int64_t on = 0;
    int64_t end = 0;
    int pair = 0;  // the (MIDI track, channel) pair, then the song track
    uint8_t pitch = 0;
    uint8_t velocity = 0;
    bool dropped = false;
};

int64_t Rescale(int64_t tick, int division) { return RescaleTick(tick, division, kImportTicksPerQuarter); }

int64_t Snap(int64_t tick, int grid) { return (tick + grid / 2) / grid * grid; }

// The coarsest grid that holds 95% of the onsets: an onset is held within
// max(1, grid / 8) ticks of a grid point. Every grid's step divides 96, so
// the onsets are counted once by their place in 96 ticks.
constexpr int kGridsPeriod = 96;
static_assert(std::all_of(std::begin(kImportGrids), std::end(kImportGrids),
                          [](const ImportGrid& grid) { return kGridsPeriod % grid.ticks == 0; }));

int ChooseGrid(const std::vector<Note>& notes) {
    std::array<int64_t, kGridsPeriod> onsets{};
    for (const Note& note : notes) ++onsets[static_cast<size_t>(note.on % kGridsPeriod)];
    for (const ImportGrid& grid : kImportGrids) {
        const int64_t tolerance = std::max(1, grid.ticks / 8);
        int64_t held = 0;
        for (int place = 0; place < kGridsPeriod; ++place) {
            const int64_t off = place % grid.ticks;
            if (std::min<int64_t>(off, grid.ticks - off) <= tolerance) held += onsets[static_cast<size_t>(place)];
        }
        if (held * 100 >= static_cast<int64_t>(notes.size()) * 95) return grid.ticks;
    }
    return kImportGrids[std::size(kImportGrids) - 1].ticks;
}

struct Pair {
    int midiTrack = 0;
    int midiChannel = 0;
    int64_t notes = 0;
    int64_t firstOn = 0;
    int into = -1;  // merged into that pair
    bool dropped = false;
    int songTrack = -1;
};

int KeyCode(int sharps) { return sharps > 0 ? 1 + sharps : sharps < 0 ? 8 - sharps : 1; }

std::optional<int> TimeCode(int numerator, uint32_t denominator) {
    static constexpr std::array<std::array<int, 3>, 7> kCodes = {
        {{2, 2, 1}, {3, 2, 2}, {2, 4, 3}, {3, 4, 4}, {4, 4, 5}, {5, 4, 6}, {6, 8, 7}}};
    for (const auto& code : kCodes)
        if (code[0] == numerator && static_cast<uint32_t>(code[1]) == denominator) return code[2];
    return std::nullopt;
}

// A control event at a tick of the song.
struct Control {
    int64_t tick;
    uint8_t code;
    uint8_t value;
};

class Importer {
public:
    Importer(const MidiFileData& midi, const ImportOptions& options) : midi_(midi), options_(options) {}

    ImportResult Run() {
        result_.notesIn = midi_.notesIn;
        if (!Rescaled()) return Fail();
        grid_ = options_.grid ? options_.grid : ChooseGrid(notes_);
        result_.grid = grid_;
        Snapped();
        Tracks();
        Overlaps();
        Conductor();
        Bars();
        if (!Write()) return Fail();
        // While the engine plays the song, a second thread completes the
        // account of the changes and does the caller's work with the song.
        const auto besideWork = [this] {
            CompleteChanges();
            if (options_.besideJudge) options_.besideJudge(result_.song);
        };
        std::optional<SongCheck> check;
        {
            std::jthread beside;
            try {
                beside = std::jthread(besideWork);
            } catch (const std::system_error&) {
                besideWork();  // no thread to be had: one after the other
            }
            check = Judge();
        }
        if (!Complete(*check)) return Fail();
        return std::move(result_);
    }

private:
    ImportResult Fail() {
        result_.song.clear();
        return std::move(result_);
    }

    void Change(std::string_view kind, int64_t tick, int track, int note, std::string detail) {
        result_.changes.push_back(
            {.kind = kind, .tick = tick, .measure = 0, .track = track, .note = note, .detail = std::move(detail)});
    }

    bool Rescaled() {
        notes_.reserve(midi_.notes.size());
        for (const MidiNoteEvent& note : midi_.notes) {
            notes_.push_back({.on = Rescale(note.on, midi_.division),
                              .end = Rescale(note.off, midi_.division),
                              .pitch = note.pitch,
                              .velocity = note.velocity});
            if (notes_.back().end > kMaxImportTicks) {
                result_.error = "the music lasts past " + std::to_string(kMaxImportTicks / kImportTicksPerQuarter) +
                                " quarter notes, longer than a song is imported";
                return false;
            }
        }
        return true;
    }

    // Onsets and ends on the grid; a note of no length lasts one step.
    void Snapped() {
        moved_.reserve(notes_.size());
        shortenedFrom_.reserve(notes_.size());
        endMoved_.reserve(notes_.size());
        for (size_t i = 0; i < notes_.size(); ++i) {
            Note& note = notes_[i];
            const int64_t on = Snap(note.on, grid_);
            int64_t end = Snap(note.end, grid_);
            if (end <= on) end = on + grid_;
            result_.maxOnsetError = std::max<int64_t>(result_.maxOnsetError, on > note.on ? on - note.on : note.on - on);
            // Ticks up to kMaxImportTicks, so 32 bits hold them.
            moved_.push_back(static_cast<int32_t>(on != note.on ? note.on : -1));
            shortenedFrom_.push_back(static_cast<int32_t>(end - on < note.end - note.on ? note.end - note.on : -1));
            // An end moved later lengthens the note: reported as moved.
            endMoved_.push_back(static_cast<int32_t>(end - on > note.end - note.on ? note.end : -1));
            note.on = on;
            note.end = end;
        }
    }

    // Each (MIDI track, channel) pair that plays becomes a track, in the order of their first note.
    void Tracks() {
        std::map<std::pair<int, int>, int> index;
        std::pair<int, int> lastKey{-1, -1};
        int lastPair = -1;  // the pair of the note before, which the next note is often of
        for (size_t i = 0; i < notes_.size(); ++i) {
            const MidiNoteEvent& from = midi_.notes[i];
            const auto key = std::make_pair(int{from.track}, int{from.channel});
            if (key != lastKey) {
                auto [at, added] = index.try_emplace(key, static_cast<int>(pairs_.size()));
                if (added) pairs_.push_back({.midiTrack = key.first, .midiChannel = key.second, .firstOn = notes_[i].on});
                lastKey = key;
                lastPair = at->second;
            }
            ++pairs_[static_cast<size_t>(lastPair)].notes;
            notes_[i].pair = lastPair;
        }
        auto live = [&] {
            return std::count_if(pairs_.begin(), pairs_.end(), [](const Pair& p) { return p.into < 0 && !p.dropped; });
        };
        // Too many: pairs that share a channel are merged, the smallest first.
        while (live() > kTrackCount) {
            // The smallest pair that shares its channel with another...
            int smallest = -1;
            for (size_t p = 0; p < pairs_.size(); ++p) {
                if (pairs_[p].into >= 0 || !SharesChannel(p)) continue;
                if (smallest < 0 || pairs_[p].notes < pairs_[static_cast<size_t>(smallest)].notes) smallest = static_cast<int>(p);
            }
            if (smallest < 0) break;
            // ...goes into the earliest other pair of its channel.
            Pair& merged = pairs_[static_cast<size_t>(smallest)];
            for (size_t q = 0; q < pairs_.size(); ++q)
                if (static_cast<int>(q) != smallest && pairs_[q].into < 0 && pairs_[q].midiChannel == merged.midiChannel) {
                    merged.into = static_cast<int>(q);
                    pairs_[q].notes += merged.notes;
                    break;
                }
        }
        // Still too many: the pairs with the fewest notes are dropped.
        while (live() > kTrackCount) {
            int fewest = -1;
            for (size_t p = 0; p < pairs_.size(); ++p) {
                if (pairs_[p].into >= 0 || pairs_[p].dropped) continue;
                if (fewest < 0 || pairs_[p].notes <= pairs_[static_cast<size_t>(fewest)].notes) fewest = static_cast<int>(p);
            }
            pairs_[static_cast<size_t>(fewest)].dropped = true;
        }
        for (Pair& pair : pairs_) {
            if (pair.into >= 0 || pair.dropped) continue;
            pair.songTrack = static_cast<int>(result_.tracks.size());
            ImportedTrack& track = result_.tracks.emplace_back();
            track.track = pair.songTrack;
            const auto midiTrack = static_cast<size_t>(pair.midiTrack);
            track.name = midiTrack < midi_.trackNames.size() ? midi_.trackNames[midiTrack].substr(0, kTrackNameLength) : "";
            track.channel = pair.midiChannel;
            track.midiTrack = pair.midiTrack;
            track.midiChannel = pair.midiChannel;
            track.patch = Program(pair.midiTrack, pair.midiChannel);
        }
        for (Pair& pair : pairs_) {
            if (pair.into < 0) continue;
            int root = pair.into;
            while (pairs_[static_cast<size_t>(root)].into >= 0) root = pairs_[static_cast<size_t>(root)].into;
            pair.songTrack = pairs_[static_cast<size_t>(root)].songTrack;
            Change("merged", pair.firstOn, pair.songTrack, -1,
                   "MIDI track " + std::to_string(pair.midiTrack) + ", channel " + std::to_string(pair.midiChannel + 1) +
                       " merged into track " + std::to_string(pair.songTrack));
        }
        for (size_t i = 0; i < notes_.size(); ++i) {
            Note& note = notes_[i];
            const Pair& pair = pairs_[static_cast<size_t>(note.pair)];
            note.pair = pair.songTrack;
            if (pair.songTrack < 0) Drop(i, "its MIDI track and channel are past the 15 tracks of a song");
        }
        Unsupported();
    }

    bool SharesChannel(size_t p) const {
        for (size_t q = 0; q < pairs_.size(); ++q)
            if (q != p && pairs_[q].into < 0 && pairs_[q].midiChannel == pairs_[p].midiChannel) return true;
        return false;
    }

    // The first program change of the pair, else of its channel anywhere; later ones are not kept.
    int Program(int midiTrack, int channel) {
        for (const MidiProgram& program : midi_.programs)
            if (program.track == midiTrack && program.channel == channel) return program.program;
        for (const MidiProgram& program : midi_.programs)
            if (program.channel == channel) return program.program;
        return 0;
    }

    void Unsupported() {
        std::map<int, int64_t> laterPrograms;
        std::set<std::pair<int, int>> seen;
        for (const MidiProgram& program : midi_.programs)
            if (!seen.insert({program.track, program.channel}).second) ++laterPrograms[program.track];
        for (const auto& [track, count] : laterPrograms)
            Change("unsupported", 0, -1, -1,
                   std::to_string(count) + " later program change" + (count == 1 ? "" : "s") + " in MIDI track " +
                       std::to_string(track));
        for (const MidiUnsupportedCount& count : midi_.unsupported)
            Change("unsupported", 0, -1, -1,
                   std::to_string(count.count) + " " + UnsupportedName(count.kind) + " event" +
                       (count.count == 1 ? "" : "s") + " in MIDI track " + std::to_string(count.track));
        if (midi_.unendedNotes)
            Change("unsupported", 0, -1, -1,
                   std::to_string(midi_.unendedNotes) + " note" + (midi_.unendedNotes == 1 ? "" : "s") +
                       " without a note off, ended at the end of the track");
    }

    void Drop(size_t i, const std::string& why) {
        Note& note = notes_[i];
        if (note.dropped) return;
        note.dropped = true;
        Change("dropped", note.on, note.pair, note.pitch, why);
    }

    // The engine finds a tie's note by pitch and channel: no two notes of one
    // channel and pitch may overlap. A later onset ends the earlier note.
    void Overlaps() {
        // The notes come by onset; bucketed by channel and pitch they stay so.
        std::vector<uint32_t> start(kMidiKeys + 1, 0);
        const auto key = [&](size_t i) {
            return static_cast<size_t>(result_.tracks[static_cast<size_t>(notes_[i].pair)].channel) * 128 + notes_[i].pitch;
        };
        for (size_t i = 0; i < notes_.size(); ++i)
            if (!notes_[i].dropped) ++start[key(i) + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        std::vector<uint32_t> order(start.back());
        for (size_t i = 0; i < notes_.size(); ++i)
            if (!notes_[i].dropped) order[start[key(i)]++] = static_cast<uint32_t>(i);
        size_t last = SIZE_MAX;
        for (const uint32_t i : order) {
            if (last != SIZE_MAX && key(last) == key(i)) {
                Note& before = notes_[last];
                if (before.on == notes_[i].on) {
                    // Of notes struck together the longest is kept.
                    size_t shorter = before.end < notes_[i].end ? last : i;
                    Drop(shorter, "struck together with a note of the same pitch and channel");
                    if (shorter == i) continue;
                } else if (before.end > notes_[i].on) {
                    before.end = notes_[i].on;
                    shortenedFrom_[last] = 1;
                }
            }
            last = i;
        }
        for (size_t i = 0; i < notes_.size(); ++i) {
            if (notes_[i].dropped) continue;
            if (moved_[i] >= 0)
                Change("moved", notes_[i].on, notes_[i].pair, notes_[i].pitch,
                       "from tick " + std::to_string(moved_[i]) + " to the grid");
            if (endMoved_[i] >= 0 && moved_[i] < 0)
                Change("moved", notes_[i].on, notes_[i].pair, notes_[i].pitch,
                       "its end from tick " + std::to_string(endMoved_[i]) + " to the grid, " +
                           std::to_string(notes_[i].end - notes_[i].on) + " ticks long");
            if (shortenedFrom_[i] >= 0)
                Change("shortened", notes_[i].on, notes_[i].pair, notes_[i].pitch,
                       "to " + std::to_string(notes_[i].end - notes_[i].on) + " ticks");
        }
        for (const Note& note : notes_)
            if (!note.dropped) end_ = std::max(end_, note.end);
        if (end_ == 0) end_ = kImportTicksPerQuarter;  // a song of no note holds a rest
    }

    // Tempos, keys and time signatures on the grid, the last of a kind at a tick counting.
    void Conductor() {
        std::map<std::pair<int64_t, uint8_t>, uint8_t> controls;
        for (const MidiMetaEvent& meta : midi_.metas) {
            const int64_t tick = Snap(Rescale(meta.tick, midi_.division), grid_);
            if (tick >= end_) continue;
            switch (meta.kind) {
                case MidiMetaKind::Tempo: {
                    const double exact = 60e6 / meta.tempo;
                    const int bpm = static_cast<int>(std::clamp(std::lround(exact), 1L, 255L));
                    if (std::abs(exact - bpm) > 0.5)
                    {
                        char text[64];
                        std::snprintf(text, sizeof text, "%.2f beats per minute written as %d", exact, bpm);
                        Change("tempo", tick, -1, -1, text);
                    }
                    controls[{tick, kCodeTempo}] = static_cast<uint8_t>(bpm);
                    break;
                }
                case MidiMetaKind::Key: {
                    if (meta.sharps < -7 || meta.sharps > 7) {
                        Change("key", tick, -1, -1, std::to_string(meta.sharps) + " sharps name no key; left out");
                        break;
                    }
                    const int code = KeyCode(meta.sharps);
                    if (meta.minor)
                        Change("key", tick, -1, -1,
                               std::string("a minor key written as ") + KeySignatureName(code) + ", its major key");
                    controls[{tick, kCodeKeySignature}] = static_cast<uint8_t>(code);
                    break;
                }
                case MidiMetaKind::Time: {
                    meters_.push_back({tick, meta.numerator, meta.denominator});
                    if (const std::optional<int> code = TimeCode(meta.numerator, meta.denominator))
                        controls[{tick, kCodeTimeSignature}] = static_cast<uint8_t>(*code);
                    else
                        Change("time", tick, -1, -1,
                               std::to_string(meta.numerator) + "/" + std::to_string(meta.denominator) +
                                   " has no time signature code; its measure bars are placed");
                    break;
                }
            }
        }
        for (const auto& [key, value] : controls) controls_.push_back({key.first, key.second, value});
    }

    // A bar at the start of every measure of the MIDI's time signatures (4/4 until the first).
    void Bars() {
        std::vector<Meter> meters = {{0, 4, 4}};
        for (const Meter& meter : meters_) {
            if (meter.tick == meters.back().tick) meters.back() = meter;
            else meters.push_back(meter);
        }
        for (size_t m = 0; m < meters.size(); ++m) {
            const Meter& meter = meters[m];
            const int64_t until = m + 1 < meters.size() ? meters[m + 1].tick : end_;
            double length = meter.denominator ? meter.numerator * 192.0 / meter.denominator : 0;
            length = std::max(length, static_cast<double>(grid_));
            for (int64_t k = 0;; ++k) {
                const int64_t at = Snap(meter.tick + std::llround(static_cast<double>(k) * length), grid_);
                if (at >= until) break;
                if (bars_.empty() || bars_.back() < at) bars_.push_back(at);
            }
        }
    }

    int32_t MeasureAt(int64_t tick) const {
        return static_cast<int32_t>(std::upper_bound(bars_.begin(), bars_.end(), tick) - bars_.begin());
    }

    void Emit(const StreamEvent& event) {
        for (const uint8_t byte : event.Bytes()) result_.song.push_back(byte);
    }

    // The loudness for a group's new notes, each with or without an accent:
    // of the candidates (the loudness now, the loudest that still takes an
    // accent, and each note's velocity with or without its accent), the
    // first that comes closest.
    int Loudness(const std::vector<size_t>& fresh) {
        std::array<int, kSlots>& velocities = velocities_;
        const size_t count = std::min(fresh.size(), velocities.size());
        for (size_t k = 0; k < count; ++k) velocities[k] = notes_[fresh[k]].velocity;
        std::array<int, 2 + 2 * kSlots>& candidates = candidates_;
        candidates[0] = loudness_ > 0 ? loudness_ : 64;
        candidates[1] = 127 - kAccent;
        for (size_t k = 0; k < count; ++k) {
            candidates[2 + 2 * k] = velocities[k];
            candidates[3 + 2 * k] = velocities[k] - kAccent;
        }
        int best = candidates.front();
        int64_t bestError = INT64_MAX;
        for (size_t c = 0; c < 2 + 2 * count && bestError > 0; ++c) {
            const int candidate = std::clamp(candidates[c], 1, 127);
            int64_t error = 0;
            for (size_t k = 0; k < count; ++k) error += Error(velocities[k], candidate).first;
            if (error < bestError) {
                bestError = error;
                best = candidate;
            }
        }
        return best;
    }
    // "velocity 90 written as 64": made in one piece, since a humanized
    // performance has one for every other note.
    static std::string VelocityDetail(int velocity, int written) {
        std::array<char, 48> text{};
        char* const end = text.data() + text.size();
        char* at = text.data();
        const auto put = [&](std::string_view words) { at = std::copy(words.begin(), words.end(), at); };
        put("velocity ");
        at = std::to_chars(at, end, velocity).ptr;
        put(" written as ");
        at = std::to_chars(at, end, written).ptr;
        return std::string(text.data(), at);
    }
    // How far off the velocity is at `loudness`, and whether the accent comes closer.
    static std::pair<int, bool> Error(int velocity, int loudness) {
        const int plain = std::abs(velocity - loudness);
        const int accented = std::abs(velocity - std::min(127, loudness + kAccent));
        return {std::min(plain, accented), accented < plain};
    }

    bool Write() {
        WriteHeader();
        // Every boundary is on the grid: marked by grid step, they come out in order.
        std::vector<uint8_t> marked(static_cast<size_t>(end_ / grid_) + 1, 0);
        const auto mark = [&](int64_t tick) { marked[static_cast<size_t>(tick / grid_)] = 1; };
        mark(0);
        mark(end_);
        for (const Note& note : notes_)
            if (!note.dropped) {
                mark(note.on);
                mark(note.end);
            }
        for (const Control& control : controls_) mark(control.tick);
        for (const int64_t bar : bars_) mark(bar);
        std::vector<int64_t> boundaries;
        for (size_t step = 0; step < marked.size(); ++step)
            if (marked[step]) boundaries.push_back(static_cast<int64_t>(step) * grid_);

        // A group a boundary, with a note or rest in it, for a start.
        // (Pages of it that are never written cost nothing; copying it as it grows would.)
        result_.song.reserve(kHeaderSize + 16 * boundaries.size() + 4 * notes_.size());
        // The notes come by onset (snapping keeps their order).
        std::vector<size_t> order;
        order.reserve(notes_.size());
        for (size_t i = 0; i < notes_.size(); ++i)
            if (!notes_[i].dropped) order.push_back(i);

        DropCrowded(boundaries, order);

        std::vector<size_t> sounding;
        size_t next = 0;
        size_t control = 0;
        size_t bar = 0;
        for (size_t b = 0; b + 1 < boundaries.size(); ++b) {
            const int64_t from = boundaries[b];
            const int64_t to = boundaries[b + 1];
            std::erase_if(sounding, [&](size_t i) { return notes_[i].end <= from; });
            for (; next < order.size() && notes_[order[next]].on == from; ++next)
                if (!notes_[order[next]].dropped) sounding.push_back(order[next]);  // nothing is dropped from here on
            std::vector<int>& pieces = pieces_;
            Pieces(to - from, pieces);
            if (pieces.empty()) {
                result_.error = "a stretch of " + std::to_string(to - from) + " ticks that no durations add up to";
                return false;
            }
            int64_t at = from;
            for (size_t p = 0; p < pieces.size(); ++p) {
                const int piece = pieces[p];
                const int code = kCodeOfTicks[static_cast<size_t>(piece)];
                if (p == 0) {
                    for (; bar < bars_.size() && bars_[bar] <= from; ++bar) Emit(EncodeControl(kCodeMeasureBar));
                    for (; control < controls_.size() && controls_[control].tick <= from; ++control)
                        Emit(EncodeControl(controls_[control].code, controls_[control].value));
                }
                std::vector<size_t>& fresh = fresh_;
                fresh.clear();
                for (const size_t i : sounding)
                    if (p == 0 && notes_[i].on == from) fresh.push_back(i);
                if (!fresh.empty()) {
                    const int loudness = Loudness(fresh);
                    if (loudness != loudness_) {
                        Emit(EncodeControl(kCodeLoudness, static_cast<uint8_t>(loudness)));
                        loudness_ = loudness;
                    }
                }
                int restTrack = 0;
                for (const size_t i : sounding) {
                    const Note& note = notes_[i];
                    const bool isNew = p == 0 && note.on == from;
                    uint32_t flags = 0;
                    if (at + piece < note.end) flags |= kFlagTieBegin;
                    if (!isNew) {
                        flags |= kFlagTieEnd;
                        restTrack = note.pair;
                    } else {
                        const auto [error, accent] = Error(note.velocity, loudness_);
                        if (accent) flags |= kFlagAccent;
                        result_.maxVelocityError = std::max(result_.maxVelocityError, error);
                        if (error > kVelocityReported)
                            velocitiesOff_.push_back({.note = static_cast<uint32_t>(i),
                                                      .written = static_cast<uint8_t>(accent ? std::min(127, loudness_ + kAccent) : loudness_)});
                    }
                    Emit(EncodeNote(note.pair, code, note.pitch, flags));
                }
                // A group that takes no new slot would be applied together with the next.
                if (fresh.empty()) Emit(EncodeNote(restTrack, code, 0, kFlagRest));
                Emit(EncodeControl(kCodeGroupEnd));
                at += piece;
            }
        }
        Emit(EncodeControl(kCodeSongEnd));
        return true;
    }

    // At most 16 slots at once, counting the rest a group of continuations
    // needs: the notes least heard (the shortest, then the softest) go.
    void DropCrowded(const std::vector<int64_t>& boundaries, const std::vector<size_t>& order) {
        std::vector<size_t> sounding;
        size_t next = 0;
        for (size_t b = 0; b + 1 < boundaries.size(); ++b) {
            const int64_t from = boundaries[b];
            std::erase_if(sounding, [&](size_t i) { return notes_[i].end <= from; });
            for (; next < order.size() && notes_[order[next]].on == from; ++next) sounding.push_back(order[next]);
            const bool onePiece = OnePiece(boundaries[b + 1] - from);
            for (;;) {
                const auto fresh = std::count_if(sounding.begin(), sounding.end(),
                                                 [&](size_t i) { return notes_[i].on == from; });
                const size_t needed = sounding.size() + (fresh == 0 || !onePiece ? 1 : 0);
                if (needed <= kSlots) break;
                const auto least = std::min_element(sounding.begin(), sounding.end(), [&](size_t x, size_t y) {
                    const Note& a = notes_[x];
                    const Note& c = notes_[y];
                    if (a.end - a.on != c.end - c.on) return a.end - a.on < c.end - c.on;
                    return a.velocity < c.velocity;
                });
                Drop(*least, "more than 16 slots would be in use at once");
                sounding.erase(least);
            }
        }
    }

    void WriteHeader() {
        result_.song.assign(kHeaderSize, 0);
        const std::span<uint8_t> header(result_.song);
        uint16_t mask = 0;
        for (const ImportedTrack& track : result_.tracks) {
            const auto t = static_cast<size_t>(track.track);
            std::copy(track.name.begin(), track.name.end(), header.begin() + static_cast<std::ptrdiff_t>(TrackNameOffset(track.track)));
            header[kChanRangeOffset + t] = ChanRangeByte(track.channel, kOctaveCodeNone);
            header[kPatchOffset + t] = static_cast<uint8_t>(track.patch);
            mask = WithMaskBit(mask, track.track, true);
        }
        if (result_.tracks.empty()) header[kChanRangeOffset] = ChanRangeByte(0, kOctaveCodeNone);
        SetWordAt(header, kEnableMaskOffset, mask);
        std::string title;
        for (const std::string& name : midi_.trackNames)
            if (!name.empty()) {
                title = name;
                break;
            }
        if (title.empty()) {
            title = options_.fileName;
            if (const size_t slash = title.rfind('/'); slash != std::string::npos) title.erase(0, slash + 1);
        }
        title = title.substr(0, kTitleLength - 1);
        if (const size_t zero = title.find('\0'); zero != std::string::npos) title.resize(zero);
        result_.title = title;
        std::copy(title.begin(), title.end(), header.begin() + static_cast<std::ptrdiff_t>(kTitleOffset));
    }

    // The account of the changes made: the velocities that are off (the last
    // of the changes, in the order the song was written) added, each change
    // in its measure, all in song order.
    void CompleteChanges() {
        result_.changes.reserve(result_.changes.size() + velocitiesOff_.size());
        for (const VelocityOff& off : velocitiesOff_) {
            const Note& note = notes_[off.note];
            Change("velocity", note.on, note.pair, note.pitch, VelocityDetail(note.velocity, off.written));
        }
        for (ImportChange& change : result_.changes) change.measure = MeasureAt(change.tick);
        const auto byTick = [](const ImportChange& a, const ImportChange& b) { return a.tick < b.tick; };
        if (!std::is_sorted(result_.changes.begin(), result_.changes.end(), byTick))
            std::stable_sort(result_.changes.begin(), result_.changes.end(), byTick);
    }

    // The engine plays what was made. It only reads the song, which others
    // read meanwhile, and touches nothing else of the result.
    SongCheck Judge() const {
        // Its verdict and counts are all it needs of the check.
        return CheckSongImage(result_.song, options_.songName, {.keepNotes = false, .keepControls = false}, {});
    }

    // Anything but a clean run is a fault of this importer.
    bool Complete(const SongCheck& check) {
        if (check.verdict != Verdict::Clean) {
            result_.error = "the song made does not play cleanly (" + std::string(VerdictKey(check.verdict)) +
                            "): a fault of the importer; nothing written";
            return false;
        }
        result_.notesOut = check.timeline.notesOn;
        for (ImportedTrack& track : result_.tracks) track.notes = check.timeline.trackNotes[static_cast<size_t>(track.track)];
        const auto dropped = std::count_if(result_.changes.begin(), result_.changes.end(),
                                           [](const ImportChange& c) { return c.kind == "dropped"; });
        if (result_.notesIn - result_.notesOut != dropped) {
            result_.error = "notes read less notes written is not the notes dropped: a fault of the importer";
            return false;
        }
        return true;
    }

    struct Meter {
        int64_t tick;
        int numerator;
        uint32_t denominator;
    };

    const MidiFileData& midi_;
    const ImportOptions& options_;
    ImportResult result_;
    std::vector<Note> notes_;
    std::vector<int32_t> moved_;          // by note: its tick before snapping, -1 if on the grid
    std::vector<int32_t> shortenedFrom_;  // by note: its length before, -1 if not shortened
    std::vector<int32_t> endMoved_;       // by note: its end before it was moved later, -1 if not
    std::vector<Pair> pairs_;
    struct VelocityOff {
        uint32_t note;    // index in notes_
        uint8_t written;  // the velocity the song gives it
    };
    std::vector<VelocityOff> velocitiesOff_;  // further off than is let pass, as written
    std::vector<Meter> meters_;
    std::vector<Control> controls_;
    std::vector<int64_t> bars_;
    int grid_ = kImportTicksPerQuarter;
    int64_t end_ = 0;
    int loudness_ = -1;
    // Room reused from group to group (filling it anew each time cost more than using it).
    std::vector<int> pieces_;
    std::vector<size_t> fresh_;
    std::array<int, kSlots> velocities_{};
    std::array<int, 2 + 2 * kSlots> candidates_{};
};

}  // namespace

std::optional<int> GridNamed(std::string_view name) {
    for (const ImportGrid& grid : kImportGrids)
        if (grid.name == name) return grid.ticks;
    return std::nullopt;
}

std::string_view GridName(int ticks) {
    for (const ImportGrid& grid : kImportGrids)
        if (grid.ticks == ticks) return grid.name;
    return "";
}

std::vector<std::pair<std::string_view, int64_t>> ImportResult::Counts() const {
    std::array<int64_t, std::size(kChangeKinds)> byKind{};
    // One pass: kinds come in runs (a humanized file has a velocity change
    // for every other note).
    size_t last = 0;
    for (const ImportChange& change : changes) {
        if (kChangeKinds[last] != change.kind) {
            const auto* const kind = std::find(std::begin(kChangeKinds), std::end(kChangeKinds), change.kind);
            if (kind == std::end(kChangeKinds)) continue;
            last = static_cast<size_t>(kind - std::begin(kChangeKinds));
        }
        ++byKind[last];
    }
    std::vector<std::pair<std::string_view, int64_t>> counts;
    for (size_t k = 0; k < byKind.size(); ++k)
        if (byKind[k]) counts.emplace_back(kChangeKinds[k], byKind[k]);
    return counts;
}

bool ImportResult::Lossy() const {
    return std::any_of(changes.begin(), changes.end(), [](const ImportChange& c) {
        return c.kind == "dropped" || c.kind == "moved" || c.kind == "shortened";
    });
}

ImportResult ImportMidi(const MidiFileData& midi, const ImportOptions& options) {
    return Importer(midi, options).Run();
}
