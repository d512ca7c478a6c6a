#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "picture/scene.h"

namespace {

TEST(MeasureRange, ReadsARangeOneMeasureOrAllAndNothingElse) {
    const auto expectRange = [](std::string_view text, int32_t first, int32_t last) {
        const std::optional<MeasureRange> range = ParseMeasureRange(text);
        ASSERT_TRUE(range) << text;
        EXPECT_EQ(range->first, first) << text;
        EXPECT_EQ(range->last, last) << text;
    };
    expectRange("3-9", 3, 9);
    expectRange("7", 7, 7);
    expectRange("1-1", 1, 1);
    expectRange("all", 1, INT32_MAX);
    for (const std::string_view bad : {"", "0", "0-4", "5-4", "-3", "3-", "a-b", "3-9x", " 3-9", "+3", "1--2", "99999999999"})
        EXPECT_FALSE(ParseMeasureRange(bad)) << bad;
}

}  // namespace
