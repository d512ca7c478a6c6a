// Text built up piece by piece at the end of one buffer: a disassembly runs
// to tens of megabytes in pieces of a few bytes, where std::string's append
// costs a call per piece. Every write checks its room. The text is either
// kept whole (the buffer doubles when it runs short) or passed on to a sink
// each time the buffer fills up, so that a long text never sits in memory.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

// A word of at most N bytes, kept in a fixed array so that it is copied
// whole (a move or two) and then only `size` bytes count.
template <size_t N>
struct ShortText {
    std::array<char, N> bytes{};
    uint8_t size = 0;

    std::string_view View() const { return {bytes.data(), size}; }
};

// Takes the text of a TextOut chunk by chunk, in order.
using TextSink = std::function<void(std::string_view)>;

class TextOut {
public:
    // Keeps the whole text, for Take(), with room for `capacity` bytes up front.
    explicit TextOut(size_t capacity = 64) : buffer_(std::max(capacity, kMinimumRoom), '\0') {}
    // Passes the text on to `sink` whenever kChunkSize bytes are waiting, and
    // the rest on Flush().
    explicit TextOut(TextSink sink) : buffer_(kChunkSize, '\0'), sink_(std::move(sink)) {}

    void Put(char c) {
        Room(1)[0] = c;
        used_ += 1;
    }
    // A literal: its length is known here, so it is copied with a few moves.
    template <size_t N>
    void Put(const char (&text)[N]) {
        static_assert(N > 0);
        Copy(text, N - 1, N - 1);
    }
    void Put(std::string_view text) { Copy(text.data(), text.size(), text.size()); }
    // Short words, one after the other, with one check of the room.
    template <size_t... N>
    void Put(const ShortText<N>&... words) {
        const std::span<char> room = Room((N + ...));
        size_t at = 0;
        ((std::copy_n(words.bytes.data(), N, room.subspan(at).data()), at += words.size), ...);
        used_ += at;
    }
    void PutBlanks(size_t count) {
        // Whole blocks of blanks are copied faster than a call to fill a few.
        for (; count > kBlanks.size(); count -= kBlanks.size()) Copy(kBlanks.data(), kBlanks.size(), kBlanks.size());
        Copy(kBlanks.data(), kBlanks.size(), count);
    }
    // In decimal, with a '-' when negative.
    void PutNumber(int64_t value);

    // The bytes written so far, sunk or not.
    size_t Size() const { return sunk_ + used_; }
    // The text written, when there is no sink; the TextOut is left empty.
    std::string Take() {
        buffer_.resize(used_);
        used_ = 0;
        return std::move(buffer_);
    }

    // Passes what is waiting on to the sink.
    void Flush();

private:
    static constexpr size_t kMinimumRoom = 64;   // more than any one write but the longest texts
    static constexpr size_t kChunkSize = 256 << 10;  // a chunk stays in the cache until it is sunk
    static constexpr size_t kNumberSize = 20;  // "-9223372036854775808"
    static constexpr std::array<char, 64> kBlanks = [] {
        std::array<char, 64> blanks{};
        blanks.fill(' ');
        return blanks;
    }();

    // Copies `size` bytes to the end of the text and keeps the first `kept`.
    void Copy(const char* bytes, size_t size, size_t kept) {
        std::copy_n(bytes, size, Room(size).data());
        used_ += kept;
    }

    // The next `size` bytes of the buffer, to be written and then counted.
    std::span<char> Room(size_t size) {
        if (buffer_.size() - used_ < size) MakeRoom(size);
        return std::span(buffer_).subspan(used_, size);
    }
    // Flushes or grows. Kept out of line, so that Room inlines everywhere.
    void MakeRoom(size_t size);

    std::string buffer_;  // the text up to used_, then room
    size_t used_ = 0;
    TextSink sink_;     // none: the buffer keeps all the text
    size_t sunk_ = 0;   // bytes passed on to the sink
};
