#include "song_writer.h"

#include <algorithm>
#include <cstdio>

#include "song/codec.h"

SongWriter::SongWriter() : bytes_(kHeaderSize, 0) {}

SongWriter& SongWriter::HeaderByte(size_t offset, uint8_t byte) {
    if (offset < kHeaderSize) bytes_[offset] = byte;
    return *this;
}

SongWriter& SongWriter::Title(std::string_view title) {
    std::fill_n(bytes_.begin() + kTitleOffset, kTitleLength, uint8_t{0});
    std::copy_n(title.begin(), std::min(title.size(), kTitleLength), bytes_.begin() + kTitleOffset);
    return *this;
}

SongWriter& SongWriter::TrackName(int track, std::string_view name) {
    const size_t length = kTrackNameLength;
    const auto at = bytes_.begin() + static_cast<std::ptrdiff_t>(TrackNameOffset(track));
    std::fill_n(at, length, uint8_t{0});
    std::copy_n(name.begin(), std::min(name.size(), length), at);
    return *this;
}

SongWriter& SongWriter::ChanRange(int track, uint8_t byte) { return HeaderByte(kChanRangeOffset + track, byte); }

SongWriter& SongWriter::Patch(int track, uint8_t byte) { return HeaderByte(kPatchOffset + track, byte); }

SongWriter& SongWriter::EnableMask(uint16_t mask) {
    SetWordAt(bytes_, kEnableMaskOffset, mask);
    return *this;
}

SongWriter& SongWriter::Track(int track, std::string_view name, int channel, int octave, int patch, bool enabled) {
    TrackName(track, name);
    ChanRange(track, ChanRangeByte(channel, octave));
    Patch(track, static_cast<uint8_t>(patch));
    return EnableMask(WithMaskBit(WordAt(bytes_, kEnableMaskOffset), track, enabled));
}

SongWriter& SongWriter::Event(const StreamEvent& event) {
    const std::span<const uint8_t> bytes = event.Bytes();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

SongWriter& SongWriter::KeySignature(uint8_t code) { return Event(EncodeControl(kCodeKeySignature, code)); }
SongWriter& SongWriter::Tempo(uint8_t tempo) { return Event(EncodeControl(kCodeTempo, tempo)); }
SongWriter& SongWriter::MeasureBar() { return Event(EncodeControl(kCodeMeasureBar)); }
SongWriter& SongWriter::TimeSignature(int8_t code) {
    return Event(EncodeControl(kCodeTimeSignature, static_cast<uint8_t>(code)));
}
SongWriter& SongWriter::Loudness(int8_t loudness) {
    return Event(EncodeControl(kCodeLoudness, static_cast<uint8_t>(loudness)));
}
SongWriter& SongWriter::RepeatStart(int8_t count) {
    return Event(EncodeControl(kCodeRepeatStart, static_cast<uint8_t>(count)));
}
SongWriter& SongWriter::RepeatEnd() { return Event(EncodeControl(kCodeRepeatEnd)); }
SongWriter& SongWriter::EndGroup() { return Event(EncodeControl(kCodeGroupEnd)); }
SongWriter& SongWriter::EndSong() { return Event(EncodeControl(kCodeSongEnd)); }

std::vector<uint8_t> NoteBytes(int track, int durationCode, int note, uint32_t flags) {
    // The event must outlive the span of its bytes.
    const StreamEvent event = EncodeNote(track, durationCode, note, flags);
    const std::span<const uint8_t> bytes = event.Bytes();
    return {bytes.begin(), bytes.end()};
}

SongWriter& SongWriter::Note(int track, int durationCode, int note, uint32_t flags) {
    return Raw(NoteBytes(track, durationCode, note, flags));
}

SongWriter& SongWriter::Rest(int track, int durationCode, uint32_t flags) {
    return Note(track, durationCode, 0, flags | kRest);
}

SongWriter& SongWriter::Raw(std::initializer_list<uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes);
    return *this;
}

SongWriter& SongWriter::Raw(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

size_t SongWriter::StreamSize() const { return bytes_.size() - kHeaderSize; }

bool SongWriter::WriteFile(const std::string& path) const {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes_.data(), 1, bytes_.size(), file) == bytes_.size();
    return (std::fclose(file) == 0) && written;
}
