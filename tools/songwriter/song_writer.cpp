#include "song_writer.h"

#include <algorithm>
#include <cstdio>

#include "song/loader.h"

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
    const auto at = bytes_.begin() + static_cast<std::ptrdiff_t>(kTrackNamesOffset + length * static_cast<size_t>(track));
    std::fill_n(at, length, uint8_t{0});
    std::copy_n(name.begin(), std::min(name.size(), length), at);
    return *this;
}

SongWriter& SongWriter::ChanRange(int track, uint8_t byte) { return HeaderByte(kChanRangeOffset + track, byte); }

SongWriter& SongWriter::Patch(int track, uint8_t byte) { return HeaderByte(kPatchOffset + track, byte); }

SongWriter& SongWriter::EnableMask(uint16_t mask) {
    HeaderByte(kEnableMaskOffset, static_cast<uint8_t>(mask >> 8));
    return HeaderByte(kEnableMaskOffset + 1, static_cast<uint8_t>(mask & 0xFF));
}

SongWriter& SongWriter::Track(int track, std::string_view name, int channel, int octave, int patch, bool enabled) {
    TrackName(track, name);
    ChanRange(track, static_cast<uint8_t>((octave << 4) | ((channel + 1) & 15)));
    Patch(track, static_cast<uint8_t>(patch));
    const uint16_t mask = static_cast<uint16_t>((bytes_[kEnableMaskOffset] << 8) | bytes_[kEnableMaskOffset + 1]);
    const uint16_t bit = static_cast<uint16_t>(1u << track);
    return EnableMask(enabled ? static_cast<uint16_t>(mask | bit) : static_cast<uint16_t>(mask & ~bit));
}

SongWriter& SongWriter::KeySignature(uint8_t code) { return Raw({0x80, 0x00, code}); }
SongWriter& SongWriter::Tempo(uint8_t tempo) { return Raw({0x81, tempo}); }
SongWriter& SongWriter::MeasureBar() { return Raw({0x82}); }
SongWriter& SongWriter::TimeSignature(int8_t code) { return Raw({0x83, static_cast<uint8_t>(code)}); }
SongWriter& SongWriter::Loudness(int8_t loudness) { return Raw({0x84, 0x00, static_cast<uint8_t>(loudness)}); }
SongWriter& SongWriter::RepeatStart(int8_t count) { return Raw({0x85, static_cast<uint8_t>(count)}); }
SongWriter& SongWriter::RepeatEnd() { return Raw({0x86}); }
SongWriter& SongWriter::EndGroup() { return Raw({0x00}); }
SongWriter& SongWriter::EndSong() { return Raw({0xFF}); }

std::vector<uint8_t> NoteBytes(int track, int durationCode, int note, uint32_t flags) {
    uint8_t first = static_cast<uint8_t>((track + 1) & 15);
    if (flags & SongWriter::kRest) first |= 0x10;
    if (flags & SongWriter::kTieEnd) first |= 0x20;
    if (flags & SongWriter::kTieBegin) first |= 0x40;
    uint8_t duration = static_cast<uint8_t>(durationCode & 31);
    if (flags & SongWriter::kAccent) duration |= 0x20;
    return {first, duration, static_cast<uint8_t>(note & 127)};
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
