// Out formats lines itself for speed; every conversion it handles must print
// exactly what printf prints.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "output/output.h"
#include "support/capture.h"

namespace {

// What printf makes of the same format and arguments.
template <typename... Args>
std::string Printf(const char* format, Args... args) {
    char text[4096];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

#define EXPECT_PRINTS_AS_PRINTF(format, ...)                                              \
    EXPECT_EQ(CaptureOutput([&] { Out(format, __VA_ARGS__); }), Printf(format, __VA_ARGS__)) \
        << "format \"" << format << "\""

TEST(Out, IntegersMatchPrintfForEveryWidthAndFill) {
    for (const int value : {0, 1, -1, 7, 9, 10, -10, 47, 99, 100, -1001, 123456, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(value);
        EXPECT_PRINTS_AS_PRINTF("%d", value);
        EXPECT_PRINTS_AS_PRINTF("%2d::", value);
        EXPECT_PRINTS_AS_PRINTF("[%5d]", value);
        EXPECT_PRINTS_AS_PRINTF("[%05d]", value);
        EXPECT_PRINTS_AS_PRINTF("******** Ticks = %d ********\n", value);
    }
}

TEST(Out, HexOfSignWidenedBytesMatchesPrintf) {
    for (const int byte : {0x00, 0x05, 0x31, 0x7F, -128, -123, -1}) {
        const auto widened = static_cast<unsigned>(byte);
        EXPECT_PRINTS_AS_PRINTF("Chan-Range %02x   Patch %02x\n", widened, widened);
        EXPECT_PRINTS_AS_PRINTF("%x|%8x", widened, widened);
    }
}

TEST(Out, TextsArePaddedOnTheLeftOnlyWhenShorterThanTheField) {
    for (const char* text : {"", "Bass", "0123456789", "a name longer than twenty"}) {
        EXPECT_PRINTS_AS_PRINTF("%2d->%20s:CH[%d]\n", 3, text, 15);
        EXPECT_PRINTS_AS_PRINTF("NOTE=%s  Dur=%s Track = %d\n", text, "Quarter", -1);
    }
    EXPECT_PRINTS_AS_PRINTF("100%% %s", "done");
}

TEST(Out, OtherConversionsFallBackToPrintf) {
    EXPECT_PRINTS_AS_PRINTF("%zu bytes, %5.2f, %c", size_t{520}, 1.5, 'x');
    // A fallback keeps the order of the lines around it.
    EXPECT_EQ(CaptureOutput([] {
                  Out("a\n");
                  Out("%ld\n", 5L);
                  Out("b\n");
              }),
              "a\n5\nb\n");
}

TEST(Out, LongTextsAndManyLinesArriveWholeAndInOrder) {
    const std::string wide(3000, 'w');  // longer than the room kept for one line
    std::string expected;
    const std::string printed = CaptureOutput([&] {
        for (int i = 0; i < 20000; ++i) {
            Out("line %d\n", i);
            expected += "line " + std::to_string(i) + "\n";
            if (i % 5000 == 0) {
                Out("%s\n", wide.c_str());
                expected += wide + "\n";
            }
        }
    });
    EXPECT_EQ(printed, expected);
}

TEST(Out, SwitchingTheStreamDeliversPendingOutputToTheOldOne) {
    std::string inner;
    const std::string outer = CaptureOutput([&] {
        Out("before\n");
        inner = CaptureOutput([] { Out("inside\n"); });
        Out("after\n");
    });
    EXPECT_EQ(outer, "before\nafter\n");
    EXPECT_EQ(inner, "inside\n");
}

// OutLine makes the lines of the listing and the trace from pieces, in the
// pending buffer itself: the same bytes as printf, also for lines that do
// not fit in the room left, and across many buffers' worth of lines.
TEST(OutLine, PrintsWhatPrintfPrintsWhereverTheLineFalls) {
    const std::string wide(kOutRoom + 100, 'w');
    std::string expected;
    const std::string printed = CaptureOutput([&] {
        for (int i = -40000; i < 40000; ++i) {
            OutLine().Right(i % 100, 2) << "::Note=" << (i % 3 ? "C#" : "") << i << ' ' << INT32_MIN << '\n';
            expected += Printf("%2d::Note=%s%d %d\n", i % 100, i % 3 ? "C#" : "", i, INT32_MIN);
            if (i % 9999 == 0) {
                OutLine() << i << wide << i << '\n';
                expected += std::to_string(i) + wide + std::to_string(i) + "\n";
            }
        }
    });
    EXPECT_TRUE(printed == expected);
}

}  // namespace
