// Shared set-up for the playback and driver phase tests: a song built byte by
// byte, loaded in memory with 16 slots, and helpers that apply groups, fill
// slots and catch the fatal stops, all with the output captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "containers/list.h"
#include "playback/group.h"
#include "playback/slots.h"
#include "report/trace.h"
#include "song/loader.h"
#include "song/parser.h"
#include "song_writer.h"
#include "support/capture.h"

namespace playback_test {

// The frame line of the slot dump: 28 letters x.
inline const std::string kFrame = std::string(28, 'x') + "\n";

inline std::string Dump(const std::string& slotLines) { return kFrame + slotLines + kFrame; }
inline std::string EmptyDump() { return Dump("No Events\n"); }

// What a piece of playback printed, and the status of the stop that ended it
// (-1 when it returned normally).
struct Outcome {
    std::string out;
    int stopStatus = -1;
};

// Runs `body` with the output captured; a fatal stop of playback during it
// is the status 1 that the program ends with.
inline Outcome RunCatchingStop(SSONG* song, const std::function<void()>& body) {
    Outcome outcome;
    const int32_t stopBefore = song->stopReason;
    outcome.out = CaptureOutput(body);
    if (song->stopReason != kStopNone && stopBefore == kStopNone) outcome.stopStatus = 1;
    return outcome;
}

// The fields of a slot as group processing would leave them.
struct SlotFields {
    int note = 60;
    int remaining = 47;
    int channel = 0;
    int track = 0;
    int durationCode = 12;  // Quarter
    int velocity = 0;
    bool rest = false;
    bool tieBegin = false;
    bool tieEnd = false;
};

class SongTest : public ::testing::Test {
protected:
    void TearDown() override { FreeSong(song_); }

    // Loads the bytes with 16 slots, reads the header and places the cursor.
    [[nodiscard]] bool Load(const SongWriter& writer) {
        song_ = LoadSongImage(writer.Bytes(), 16);
        if (!song_) return false;
        song_->listener = &trace_;  // playback prints its trace
        song_->readListener = &trace_;  // and so does the parse
        CaptureOutput([&] {
            GetSongParameters(song_);
            InitSong(song_);
        });
        return true;
    }

    // Loads and parses every group into the song's list, then clears the
    // counters as the driver does before playback.
    [[nodiscard]] bool LoadParsed(const SongWriter& writer) {
        if (!Load(writer)) return false;
        int32_t result = kParseMore;
        CaptureOutput([&] {
            SEVENT* group = nullptr;
            while ((result = ParseGroup(song_, &group)) == kParseMore) {
                if (group) ListAppend(&song_->events, group);
            }
            if (group) ListAppend(&song_->events, group);
        });
        song_->groupCount = 0;
        return result == kParseSongEnd;
    }

    // The first event of the n-th group (0-based) of the song's list.
    SEVENT* Group(int n) {
        void* group = ListHead(&song_->events);
        for (int i = 0; i < n && group; ++i) group = ListNext(group);
        return static_cast<SEVENT*>(group);
    }

    // Applies the next group; its result is kept in applied_.
    std::string Apply(int32_t setTicks = 1) {
        return CaptureOutput([&] { applied_ = ProcessGroup(song_, setTicks); });
    }

    SNOTE& Slot(int index) { return song_->notes[index]; }

    // Takes slot `index` directly and fills it, keeping activeCount right.
    SNOTE& Hold(int index, const SlotFields& fields) {
        SNOTE& slot = Slot(index);
        slot.note = static_cast<int16_t>(fields.note);
        slot.remaining = static_cast<int16_t>(fields.remaining);
        slot.channel = static_cast<int16_t>(fields.channel);
        slot.track = static_cast<int16_t>(fields.track);
        slot.durationCode = static_cast<int16_t>(fields.durationCode);
        slot.velocity = static_cast<int16_t>(fields.velocity);
        slot.rest = fields.rest ? 1 : 0;
        slot.tieBegin = fields.tieBegin ? 1 : 0;
        slot.tieEnd = fields.tieEnd ? 1 : 0;
        if (!slot.inUse) ++song_->activeCount;
        slot.inUse = 1;
        return slot;
    }

    // A byte copy of the whole pool, to show that a call left it alone.
    std::vector<uint8_t> PoolBytes() const {
        const auto* bytes = reinterpret_cast<const uint8_t*>(song_->notes);
        return {bytes, bytes + sizeof(SNOTE) * static_cast<size_t>(song_->noteCount)};
    }

    // A tie search as group processing makes it: the slot found, and the
    // trace printed for it.
    SNOTE* Search(int32_t note, int32_t channel, int32_t count, std::string* out) {
        SNOTE* found = FindNote(note, channel, song_->notes, count);
        const SSONG scanned = [&] {
            SSONG copy = *song_;
            copy.noteCount = count;
            return copy;
        }();
        *out = CaptureOutput([&] { trace_.TieSearched(scanned, note, channel, found ? SlotIndex(song_, found) : -1); });
        return found;
    }

    TraceListener trace_;
    SSONG* song_ = nullptr;
    int32_t applied_ = -1;
};

}  // namespace playback_test
