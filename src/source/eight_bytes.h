// Looking at eight bytes of text at once. A song source is tens of megabytes
// of short words and blanks: a loop that steps a byte at a time to the end of
// a word or of a run of blanks stops at a different place for nearly every
// word, and the processor mispredicts almost every one of those stops, which
// costs more than the loop itself. Eight bytes read as one number are tested
// with a few arithmetic steps and no branch.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

// One bit, the top one, of each of eight bytes.
inline constexpr uint64_t kTopBits = 0x8080808080808080;

// The first eight bytes of `text` as one number, the first byte lowest;
// nothing when `text` is shorter.
inline std::optional<uint64_t> FirstEight(std::string_view text) {
    uint64_t eight = 0;
    if (text.size() < sizeof eight) return std::nullopt;
    std::memcpy(&eight, text.data(), sizeof eight);
    if constexpr (std::endian::native == std::endian::big) {
        uint64_t reversed = 0;
        for (int i = 0; i < 8; ++i, eight >>= 8) reversed = reversed << 8 | (eight & 0xFF);
        eight = reversed;
    }
    return eight;
}

// The top bit of each of the eight bytes that is `byte`.
constexpr uint64_t BytesEqual(uint64_t eight, char byte) {
    // Zero where the byte matches; then the top bit of each byte is set
    // unless the byte is zero, without carries from one byte to the next.
    const uint64_t zeroWhereEqual = eight ^ (uint64_t{0x0101010101010101} * static_cast<uint8_t>(byte));
    const uint64_t nonzero = ((zeroWhereEqual & ~kTopBits) + ~kTopBits) | zeroWhereEqual;
    return ~nonzero & kTopBits;
}

// The position (0..7) of the first byte whose top bit `bits` sets; `bits`
// is not 0.
constexpr size_t FirstSet(uint64_t bits) { return static_cast<size_t>(std::countr_zero(bits)) / 8; }
