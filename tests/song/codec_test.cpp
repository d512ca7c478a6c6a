// The song codec by round trip: every header field and every event of every
// song the repo holds, read into fields and written back, gives its bytes
// (less the bits that no one reads).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "song/codec.h"
#include "song_generator.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kRepo = fs::path(__FILE__).parent_path().parent_path().parent_path();

std::vector<Bytes> EverySong() {
    std::vector<Bytes> songs;
    for (const char* folder : {"tests/corpus", "fuzz/corpus-seed"})
        for (const auto& entry : fs::directory_iterator(kRepo / folder)) {
            std::ifstream file(entry.path(), std::ios::binary);
            Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
            if (bytes.size() >= kHeaderSize) songs.push_back(std::move(bytes));
        }
    for (uint64_t seed = 1; seed <= 5; ++seed) songs.push_back(GenerateSong({.events = 3000, .seed = seed}).bytes);
    return songs;
}

TEST(Codec, EveryChanRangeByteRoundTrips) {
    for (int byte = 0; byte < 256; ++byte) {
        const auto b = static_cast<uint8_t>(byte);
        EXPECT_EQ(ChanRangeByte(ChannelOf(b), OctaveCodeOf(b)), b) << byte;
        EXPECT_GE(ChannelOf(b), 0);
        EXPECT_LE(ChannelOf(b), 15);
    }
}

TEST(Codec, HeadersAndStreamsRoundTrip) {
    const std::vector<Bytes> songs = EverySong();
    ASSERT_GT(songs.size(), 30u);
    size_t notes = 0;
    size_t controls = 0;
    for (const Bytes& song : songs) {
        // The enable mask, bit by bit, and the words after it.
        Bytes header(kHeaderSize, 0);
        for (size_t at = kEnableMaskOffset; at < kHeaderSize; at += 2) SetWordAt(header, at, WordAt(song, at));
        uint16_t mask = 0;
        for (int bit = 0; bit < 16; ++bit) mask = WithMaskBit(mask, bit, MaskBit(WordAt(song, kEnableMaskOffset), bit));
        EXPECT_EQ(mask, WordAt(song, kEnableMaskOffset));
        EXPECT_TRUE(std::equal(header.begin() + kEnableMaskOffset, header.end(), song.begin() + kEnableMaskOffset));

        // Every whole event up to where the stream is cut.
        StreamReader reader{std::span<const uint8_t>(song).subspan(kHeaderSize)};
        for (StreamEvent event; reader.Next(event);) {
            Bytes expected(event.Bytes().begin(), event.Bytes().end());
            StreamEvent again;
            if (event.IsNote()) {
                const NoteFields fields = DecodeNote(event);
                again = EncodeNote(fields.track, fields.duration, fields.pitch, fields.flags);
                for (size_t i = 4; i < kNoteFlags.size(); ++i)  // the bits no one reads
                    expected[kNoteFlags[i].byte] &= static_cast<uint8_t>(~kNoteFlags[i].mask);
                ++notes;
            } else {
                again = EncodeControl(event.Code(), event.size > 1 ? event.ArgumentByte() : 0);
                if (FindControl(event.Code()) && FindControl(event.Code())->skipsByte) expected[1] = 0;
                ++controls;
            }
            ASSERT_EQ(Bytes(again.Bytes().begin(), again.Bytes().end()), expected);
        }
        EXPECT_LT(reader.Rest().size(), 3u);  // at most a cut event is left
    }
    EXPECT_GT(notes, 10000u);
    EXPECT_GT(controls, 2000u);
}

}  // namespace
