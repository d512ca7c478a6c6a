// The eight-bytes-at-once tests agree with a byte-by-byte look.
#include "source/eight_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EightBytes, FindEveryByteValueAtEveryPosition) {
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        for (size_t at = 0; at < 8; ++at) {
            // Eight bytes that differ from `byte` but for the one at `at`.
            std::string text(8, static_cast<char>(value ^ 0x80));
            text[at] = byte;
            const std::optional<uint64_t> eight = FirstEight(text);
            ASSERT_TRUE(eight);
            const uint64_t found = BytesEqual(*eight, byte);
            EXPECT_EQ(found & (found - 1), 0u) << value << " at " << at;  // one byte only
            ASSERT_NE(found, 0u) << value << " at " << at;
            EXPECT_EQ(FirstSet(found), at) << value;
            // Neighbours one apart (a borrow or a carry) are not taken for it.
            text.assign(8, static_cast<char>(value + 1));
            text[at] = static_cast<char>(value - 1);
            EXPECT_EQ(BytesEqual(*FirstEight(text), byte), 0u) << value << " at " << at;
        }
    }
}

TEST(EightBytes, TheFirstOfSeveralAndShortTexts) {
    const std::optional<uint64_t> eight = FirstEight("ab:c:d+e, and more");
    ASSERT_TRUE(eight);
    EXPECT_EQ(FirstSet(BytesEqual(*eight, ':')), 2u);
    EXPECT_EQ(FirstSet(BytesEqual(*eight, '+')), 6u);
    EXPECT_EQ(BytesEqual(*eight, ','), 0u);  // the ninth byte is not read
    EXPECT_FALSE(FirstEight("seven b"));
}

}  // namespace
