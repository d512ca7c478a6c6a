#include <gtest/gtest.h>

#include "song_writer.h"
#include "support/run_songsim.h"

TEST(Smoke, MissingSongPrintsTwoLinesAndFails) {
    TempFolder empty;
    const SongsimRun run = RunSongsimIn(empty);
    EXPECT_EQ(run.out, "Size of SEVENT = 32\nCould not open file\n");
    EXPECT_EQ(run.status, 1);
}
