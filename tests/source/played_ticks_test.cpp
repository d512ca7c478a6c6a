// The comments of a disassembly give the tick at which the engine applies
// each group, as the check counts ticks: a group of control events starts
// with the next group that takes a slot, a group lasts its longest note less
// one tick, an empty group is never applied, and nothing after a fatal stop
// is.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "source/assembler.h"
#include "source/disassembler.h"
#include "source/played_ticks.h"

namespace {

// The comments of the group lines, in order.
std::vector<std::string> Comments(const std::string& source) {
    const Assembly song = Assemble(source);
    EXPECT_FALSE(song.error) << source;
    PlayedTicks ticks(song.song);
    const std::string text = Disassemble(song.song, &ticks);
    std::vector<std::string> comments;
    std::istringstream groups(text.substr(text.find("\n\n") + 2));
    for (std::string line; std::getline(groups, line);) comments.push_back(line.substr(line.find("  # ") + 4));
    return comments;
}

TEST(PlayedTicks, GroupsStartWhereTheEngineAppliesThem) {
    EXPECT_EQ(Comments("track 0 A 0 3 0 on\n"
                       "key F\n"
                       "bar 0:q:C5\n"
                       "empty\n"
                       "0:q:D5 0:q:E5\n"
                       "0:h:F5+tb\n"
                       "0:q:F5+te 0:q:A5\n"
                       "end\n"),
              (std::vector<std::string>{"tick 0, measure 0", "tick 0, measure 1", "measure 1", "tick 47, measure 1",
                                        "tick 94, measure 1", "tick 189, measure 1", "tick 236, measure 1"}));
    // A note of no length stops playback: the later groups are not played.
    EXPECT_EQ(Comments("track 0 A 0 3 0 on\n0:0:C5\n0:q:D5\nend\n"),
              (std::vector<std::string>{"tick 0, measure 0", "measure 0", "measure 0"}));
}

}  // namespace
