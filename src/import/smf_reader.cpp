#include "import/smf_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <string_view>

namespace {

struct Failure {
    size_t offset;
    std::string what;
};

// A cursor over [begin, end) of the file: every read is checked against the end first.
class Cursor {
public:
    Cursor(std::span<const uint8_t> file, size_t begin, size_t end) : file_(file), at_(begin), end_(end) {}

    size_t Offset() const { return at_; }
    size_t Left() const { return end_ - at_; }
    bool AtEnd() const { return at_ >= end_; }

    uint8_t Byte(const char* what) {
        if (AtEnd()) Fail(std::string(what) + " cut off by the end of the data");
        return file_[at_++];
    }
    uint8_t Peek(const char* what) const {
        if (AtEnd()) Fail(std::string(what) + " cut off by the end of the data");
        return file_[at_];
    }
    uint32_t Word(int bytes, const char* what) {
        if (Left() < static_cast<size_t>(bytes)) Fail(std::string(what) + " cut off by the end of the data");
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | file_[at_++];
        return value;
    }
    // A variable-length quantity: at most four bytes of seven bits.
    uint32_t Quantity(const char* what) {
        const size_t start = at_;
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t byte = Byte(what);
            value = value << 7 | (byte & 0x7F);
            if (!(byte & 0x80)) return value;
        }
        at_ = start;
        Fail(std::string(what) + " longer than four bytes");
    }
    // `length` bytes, checked against what is left.
    std::span<const uint8_t> Bytes(uint64_t length, const char* what) {
        if (length > Left())
            Fail(std::string(what) + " of " + std::to_string(length) + " bytes, but only " + std::to_string(Left()) +
                 " left");
        const std::span<const uint8_t> bytes = file_.subspan(at_, static_cast<size_t>(length));
        at_ += static_cast<size_t>(length);
        return bytes;
    }
    [[noreturn]] void Fail(std::string what) const { throw Failure{at_, std::move(what)}; }

private:
    std::span<const uint8_t> file_;
    size_t at_;
    size_t end_;
};

// The data bytes a channel message takes after its status.
int DataBytes(uint8_t status) {
    const uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

class TrackReader {
public:
    TrackReader(MidiFileData& data, uint16_t track, std::map<std::pair<uint16_t, int>, int64_t>& unsupported)
        : data_(data), track_(track), unsupported_(unsupported) {
        sounding_.fill(kSilent);
    }

    void Read(Cursor& cursor) {
        int64_t tick = 0;
        uint8_t running = 0;
        bool named = false;
        while (!cursor.AtEnd()) {
            tick += cursor.Quantity("delta time");
            const size_t eventAt = cursor.Offset();
            uint8_t status = cursor.Peek("event after its delta time");
            if (status & 0x80) {
                cursor.Byte("status");
            } else if (running) {
                status = running;
            } else {
                cursor.Fail("a data byte where a status byte must be");
            }
            if (status == 0xFF) {
                const uint8_t type = cursor.Byte("meta event type");
                const std::span<const uint8_t> body = cursor.Bytes(cursor.Quantity("meta event length"), "meta event");
                if (type == 0x2F) break;  // end of track
                Meta(type, body, tick, named);
                running = 0;
                continue;
            }
            if (status == 0xF0 || status == 0xF7) {
                cursor.Bytes(cursor.Quantity("sysex length"), "sysex event");
                running = 0;
                continue;
            }
            if (status >= 0xF0) {
                throw Failure{eventAt, "status byte 0x" + Hex(status) + " has no place in a MIDI file"};
            }
            running = status;
            std::array<uint8_t, 2> args{};
            for (int i = 0; i < DataBytes(status); ++i) {
                args[static_cast<size_t>(i)] = cursor.Byte("channel message");
                if (args[static_cast<size_t>(i)] & 0x80) {
                    throw Failure{cursor.Offset() - 1, "a status byte where a data byte must be"};
                }
            }
            Channel(status, args, tick);
        }
        for (int key = 0; key < 16 * 128; ++key) {
            if (sounding_[static_cast<size_t>(key)] == kSilent) continue;
            End(key, tick);
            ++data_.unendedNotes;
        }
    }

private:
    static constexpr int64_t kSilent = -1;

    static std::string Hex(uint8_t byte) {
        char text[4];
        std::snprintf(text, sizeof text, "%02x", byte);
        return text;
    }

    void Count(MidiUnsupported kind) { ++unsupported_[{track_, static_cast<int>(kind)}]; }

    void Meta(uint8_t type, std::span<const uint8_t> body, int64_t tick, bool& named) {
        if (type == 0x03 && !named) {
            named = true;
            if (data_.trackNames.size() <= track_) data_.trackNames.resize(size_t{track_} + 1);
            data_.trackNames[track_].assign(body.begin(), body.end());
        } else if (type == 0x51 && body.size() >= 3) {
            const uint32_t tempo = static_cast<uint32_t>(body[0] << 16 | body[1] << 8 | body[2]);
            if (tempo > 0) data_.metas.push_back({.tick = tick, .kind = MidiMetaKind::Tempo, .tempo = tempo});
        } else if (type == 0x58 && body.size() >= 2) {
            if (body[0] == 0) return;
            const uint32_t denominator = body[1] < 31 ? 1u << body[1] : 0;
            data_.metas.push_back(
                {.tick = tick, .kind = MidiMetaKind::Time, .numerator = body[0], .denominator = denominator});
        } else if (type == 0x59 && body.size() >= 2) {
            data_.metas.push_back({.tick = tick,
                                   .kind = MidiMetaKind::Key,
                                   .sharps = static_cast<int8_t>(body[0]),
                                   .minor = body[1] != 0});
        }
    }

    void Channel(uint8_t status, std::array<uint8_t, 2> args, int64_t tick) {
        const uint8_t channel = status & 0x0F;
        switch (status & 0xF0) {
            case 0x80: Off(channel, args[0], tick); break;
            case 0x90:
                if (args[1] == 0)
                    Off(channel, args[0], tick);
                else
                    On(channel, args[0], args[1], tick);
                break;
            case 0xA0: Count(MidiUnsupported::Aftertouch); break;
            case 0xB0: Count(MidiUnsupported::Controller); break;
            case 0xC0:
                data_.programs.push_back({.tick = tick, .track = track_, .channel = channel, .program = args[0]});
                break;
            case 0xD0: Count(MidiUnsupported::ChannelPressure); break;
            default: Count(MidiUnsupported::PitchBend); break;
        }
    }

    static int Key(uint8_t channel, uint8_t pitch) { return channel * 128 + pitch; }

    void On(uint8_t channel, uint8_t pitch, uint8_t velocity, int64_t tick) {
        const int key = Key(channel, pitch);
        // Struck again while it sounds: the earlier note ends here.
        if (sounding_[static_cast<size_t>(key)] != kSilent) End(key, tick);
        if (data_.notes.size() >= kMaxMidiNotes)
            throw Failure{0, "more than " + std::to_string(kMaxMidiNotes) + " notes; a song cannot hold them"};
        sounding_[static_cast<size_t>(key)] = static_cast<int64_t>(data_.notes.size());
        data_.notes.push_back(
            {.on = tick, .off = tick, .track = track_, .channel = channel, .pitch = pitch, .velocity = velocity});
        ++data_.notesIn;
    }
    void Off(uint8_t channel, uint8_t pitch, int64_t tick) {
        const int key = Key(channel, pitch);
        if (sounding_[static_cast<size_t>(key)] != kSilent) End(key, tick);
    }
    void End(int key, int64_t tick) {
        int64_t& index = sounding_[static_cast<size_t>(key)];
        data_.notes[static_cast<size_t>(index)].off = tick;
        index = kSilent;
    }

    MidiFileData& data_;
    uint16_t track_;
    std::map<std::pair<uint16_t, int>, int64_t>& unsupported_;
    std::array<int64_t, 16 * 128> sounding_{};
};

bool ChunkIs(std::span<const uint8_t> type, std::string_view name) {
    return std::equal(type.begin(), type.end(), name.begin(), name.end());
}

// The notes by onset, those of one onset in the order of their tracks: each
// track's notes come in order already, so its run is merged with the others,
// two runs at a time.
void MergeRuns(std::vector<MidiNoteEvent>& notes, std::vector<size_t> runs) {
    const auto byOnset = [](const MidiNoteEvent& a, const MidiNoteEvent& b) { return a.on < b.on; };
    const auto at = [&](size_t index) { return notes.begin() + static_cast<std::ptrdiff_t>(index); };
    runs.push_back(notes.size());
    while (runs.size() > 2) {
        std::vector<size_t> merged;
        for (size_t r = 0; r + 1 < runs.size(); r += 2) {
            merged.push_back(runs[r]);
            if (r + 2 < runs.size()) std::inplace_merge(at(runs[r]), at(runs[r + 1]), at(runs[r + 2]), byOnset);
        }
        merged.push_back(notes.size());
        runs = std::move(merged);
    }
}

MidiFileData Read(std::span<const uint8_t> bytes) {
    MidiFileData data;
    Cursor file(bytes, 0, bytes.size());
    if (file.Left() < 4 || !ChunkIs(bytes.first(4), "MThd")) file.Fail("not a Standard MIDI File (no MThd header)");
    file.Bytes(4, "header chunk type");
    const uint32_t headerLength = file.Word(4, "header length");
    if (headerLength < 6) file.Fail("header length " + std::to_string(headerLength) + ", below 6");
    const std::span<const uint8_t> header = file.Bytes(headerLength, "header chunk");
    Cursor fields(bytes, file.Offset() - header.size(), file.Offset());
    data.format = static_cast<int>(fields.Word(2, "format"));
    const uint32_t trackCount = fields.Word(2, "track count");
    const uint32_t division = fields.Word(2, "division");
    if (data.format == 2) throw Failure{8, "format 2 (independent patterns) is not supported; use format 0 or 1"};
    if (data.format > 2) throw Failure{8, "unknown format " + std::to_string(data.format)};
    if (division & 0x8000) throw Failure{12, "SMPTE time division is not supported; ticks per quarter needed"};
    if (division == 0) throw Failure{12, "a division of 0 ticks per quarter"};
    data.division = static_cast<int>(division);

    std::map<std::pair<uint16_t, int>, int64_t> unsupported;
    uint32_t tracks = 0;
    std::vector<size_t> runs;  // where each track's notes start
    // A note takes at least six bytes of the file: room made for all it may
    // hold, so that the notes are not copied as they come (pages that are
    // never written cost nothing).
    data.notes.reserve(std::min(bytes.size() / 6, kMaxMidiNotes));
    while (tracks < trackCount && !file.AtEnd()) {
        const size_t chunkAt = file.Offset();
        const std::span<const uint8_t> type = file.Bytes(4, "chunk type");
        const uint32_t length = file.Word(4, "chunk length");
        if (length > file.Left())
            throw Failure{chunkAt + 4, "chunk of " + std::to_string(length) + " bytes, but only " +
                                           std::to_string(file.Left()) + " left in the file"};
        const size_t begin = file.Offset();
        file.Bytes(length, "chunk");
        if (!ChunkIs(type, "MTrk")) continue;  // chunks of other kinds are skipped
        Cursor track(bytes, begin, begin + length);
        runs.push_back(data.notes.size());
        TrackReader(data, static_cast<uint16_t>(tracks), unsupported).Read(track);
        ++tracks;
    }
    if (tracks < trackCount)
        file.Fail("the file ends after " + std::to_string(tracks) + " of the " + std::to_string(trackCount) +
                  " tracks its header announces");
    data.trackNames.resize(tracks);
    MergeRuns(data.notes, std::move(runs));
    std::stable_sort(data.metas.begin(), data.metas.end(),
                     [](const MidiMetaEvent& a, const MidiMetaEvent& b) { return a.tick < b.tick; });
    for (const auto& [key, count] : unsupported)
        data.unsupported.push_back(
            {.track = key.first, .kind = static_cast<MidiUnsupported>(key.second), .count = count});
    return data;
}

}  // namespace

std::optional<MidiFileData> ReadStandardMidiFile(std::span<const uint8_t> bytes, MidiReadError& error) {
    try {
        return Read(bytes);
    } catch (const Failure& failure) {
        error = {failure.offset, failure.what};
        return std::nullopt;
    }
}

std::string DescribeMidiError(const MidiReadError& error) {
    char offset[32];
    std::snprintf(offset, sizeof offset, "0x%zx", error.offset);
    return std::string("invalid MIDI data (offset ") + offset + "): " + error.what;
}

const char* UnsupportedName(MidiUnsupported kind) {
    switch (kind) {
        case MidiUnsupported::Controller: return "controller";
        case MidiUnsupported::PitchBend: return "pitch bend";
        case MidiUnsupported::Aftertouch: return "aftertouch";
        case MidiUnsupported::ChannelPressure: return "channel pressure";
        case MidiUnsupported::SysEx: return "sysex";
        default: return "event";
    }
}
