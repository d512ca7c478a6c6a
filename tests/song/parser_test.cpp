#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "containers/list.h"
#include "output/output.h"
#include "report/trace.h"
#include "song/loader.h"
#include "song/parser.h"
#include "song_writer.h"
#include "support/capture.h"

namespace {

struct SongFree {
    void operator()(SSONG* song) const { FreeSong(song); }
};
using SongPtr = std::unique_ptr<SSONG, SongFree>;

// One decoded event, compared member by member.
struct Ev {
    int32_t kind;
    int32_t code;
    int32_t value;
    int32_t track;
    uint32_t flags;
    bool operator==(const Ev&) const = default;
};
void PrintTo(const Ev& e, std::ostream* os) {
    *os << (e.kind == kEventNote ? "note " : "control ") << "code=" << e.code << " value=" << e.value
        << " track=" << e.track << " flags=" << e.flags;
}
Ev Control(int32_t code, int32_t value = 0) { return {kEventControl, code, value, 0, 0}; }
Ev Note(int32_t note, int32_t duration, int32_t track, uint32_t flags = 0) {
    return {kEventNote, note, duration, track, flags};
}
const Ev kSongEnd = Control(kCodeSongEnd);

// A group as the events of its chain; a null group reads as no events.
using Group = std::vector<Ev>;
Group Events(const SEVENT* first) {
    Group events;
    for (const SEVENT* e = first; e; e = e->next)
        events.push_back({e->kind, e->code, e->value, e->track, e->flags});
    return events;
}

using Bytes = std::vector<uint8_t>;

class ParserTest : public ::testing::Test {
protected:
    // Loads an all-zero header followed by `stream` and parses groups as the
    // driver does, until a call returns something other than "more".
    void Parse(const Bytes& stream) {
        results_.clear();
        groups_.clear();
        groupCounts_.clear();
        song_.reset(LoadSongImage(SongWriter().Raw(stream).Bytes(), 16));
        ASSERT_NE(song_, nullptr);
        InitSong(song_.get());
        song_->readListener = &trace_;  // the trace prints the tempo bytes the parse meets
        SetDiagnosticFile("stream.sng");
        testing::internal::CaptureStderr();
        out_ = CaptureOutput([&] {
            // Every call consumes at least one byte, so this bounds a runaway parse.
            for (size_t call = 0; call <= stream.size() + 1; ++call) {
                SEVENT unwritten{};
                SEVENT* group = &unwritten;
                const int32_t result = ParseGroup(song_.get(), &group);
                EXPECT_NE(group, &unwritten) << "call " << call << " left the group pointer unset";
                EXPECT_LE(song_->cursor, SongImageEnd(song_.get())) << "call " << call;
                if (group == &unwritten) group = nullptr;
                results_.push_back(result);
                groups_.push_back(Events(group));
                groupCounts_.push_back(song_->groupCount);
                if (group) ListAppend(&song_->events, group);  // FreeSong releases it
                if (result != kParseMore) break;
            }
        });
        err_ = testing::internal::GetCapturedStderr();
    }

    bool CursorAtEnd() const { return song_->cursor == SongImageEnd(song_.get()); }

    TraceListener trace_;
    SongPtr song_;
    std::vector<int32_t> results_;
    std::vector<Group> groups_;
    std::vector<int32_t> groupCounts_;
    std::string out_;
    std::string err_;
};

TEST_F(ParserTest, EmptyGroupThenSongEnd) {
    Parse({0x00,    // end of an empty group
           0xFF});  // song end
    EXPECT_EQ(results_, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(groups_, (std::vector<Group>{{}, {kSongEnd}}));
    EXPECT_EQ(groupCounts_, (std::vector<int32_t>{1, 1}));
    EXPECT_TRUE(CursorAtEnd());
    EXPECT_EQ(out_, "");
    EXPECT_EQ(err_, "");
}

TEST_F(ParserTest, SongEndStopsBeforeLaterBytes) {
    Parse({0xFF,               // song end
           0x01, 0x0C, 0x3C});  // never read
    EXPECT_EQ(results_, (std::vector<int32_t>{0}));
    EXPECT_EQ(groups_, (std::vector<Group>{{kSongEnd}}));
    EXPECT_EQ(song_->cursor, SongImage(song_.get()) + 521);
    EXPECT_EQ(song_->groupCount, 0);
}

TEST_F(ParserTest, ControlEventsOfOneGroup) {
    Parse({0x80, 0x12, 0x05,  // key signature 5; 0x12 is skipped
           0x81, 0x78,        // tempo 120 -> 1875 / 240 = 7
           0x82,              // measure bar
           0x83, 0xFF,        // time signature -1, not a song end
           0x84, 0x00, 0xF6,  // loudness -10
           0x85, 0x03,        // repeat start 3
           0x86,              // repeat end, ends the group
           0xFF});            // song end
    EXPECT_EQ(results_, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(groups_, (std::vector<Group>{{Control(0x80, 5), Control(0x81, 7), Control(0x82),
                                            Control(0x83, -1), Control(0x84, -10), Control(0x85, 3),
                                            Control(0x86)},
                                           {kSongEnd}}));
    EXPECT_EQ(song_->groupCount, 1);
    EXPECT_EQ(song_->barsParsed, 1);
    EXPECT_EQ(out_, "Tempo = 120\n");
}

TEST_F(ParserTest, ParameterBytesAreNeverCodes) {
    Parse({0x80, 0xFF, 0x86,  // key signature 134; the skipped 0xFF ends nothing
           0x80, 0x00, 0x00,  // key signature 0
           0x83, 0x00,        // time signature 0
           0x83, 0x86,        // time signature -122
           0x84, 0xFF, 0x00,  // loudness 0
           0x84, 0x86, 0xFF,  // loudness -1
           0x85, 0xFF,        // repeat start -1
           0x85, 0x00,        // repeat start 0
           0x81, 0xFF,        // tempo 255 -> 3
           0x01, 0xFF, 0x00,  // note 0, duration 31 + accent (bits 6-7 dropped), track 0
           0x01, 0x00, 0xFF,  // note 127 (bit 7 dropped), duration 0
           0x01, 0x86, 0x86,  // note 6, duration 6, no accent
           0x00,              // end of group
           0xFF});            // song end
    EXPECT_EQ(results_, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(groups_, (std::vector<Group>{{Control(0x80, 134), Control(0x80, 0), Control(0x83, 0),
                                            Control(0x83, -122), Control(0x84, 0), Control(0x84, -1),
                                            Control(0x85, -1), Control(0x85, 0), Control(0x81, 3),
                                            Note(0, 31, 0, kFlagAccent), Note(127, 0, 0), Note(6, 6, 0)},
                                           {kSongEnd}}));
    EXPECT_EQ(song_->groupCount, 1);
    EXPECT_EQ(out_, "Tempo = 255\n");
}

TEST_F(ParserTest, TempoByteIsConvertedToPeriod) {
    Parse({0x81, 0x78,  // 120 -> 1875 / 240 = 7
           0x81, 0x64,  // 100 -> 1875 / 200 = 9
           0x81, 0x01,  //   1 -> 1875 / 2 = 937
           0x81, 0xFF,  // 255 -> 1875 / 510 = 3
           0x81, 0x80,  // 128 -> 1875 / 256 = 7, read unsigned
           0x81, 0x00,  //   0 -> no period, kept as 0
           0xFF});
    EXPECT_EQ(groups_, (std::vector<Group>{{Control(0x81, 7), Control(0x81, 9), Control(0x81, 937),
                                            Control(0x81, 3), Control(0x81, 7), Control(0x81, 0), kSongEnd}}));
    EXPECT_EQ(out_, "Tempo = 120\nTempo = 100\nTempo = 1\nTempo = 255\nTempo = 128\nTempo = 0\n");
}

TEST_F(ParserTest, NoteBytesGiveTrackFlagsDurationAndNumber) {
    Parse({0x51, 0x2C, 0xBC,  // track 0, rest + tie begin; duration 12 + accent; note 60
           0xA3, 0x0C, 0x3C,  // track 2, tie end; bit 7 of the first byte ignored
           0x70, 0x0C, 0x3C,  // track nibble 0 -> -1; rest + tie end + tie begin
           0x8F, 0xDF, 0x40,  // track 14; duration 31, bits 6-7 dropped, no accent; note 64
           0x87, 0x09, 0x7F,  // track 6, eighth, note 127
           0xFF});
    EXPECT_EQ(results_, (std::vector<int32_t>{0}));
    EXPECT_EQ(groups_,
              (std::vector<Group>{{Note(60, 12, 0, kFlagRest | kFlagTieBegin | kFlagAccent),
                                   Note(60, 12, 2, kFlagTieEnd),
                                   Note(60, 12, -1, kFlagRest | kFlagTieEnd | kFlagTieBegin),
                                   Note(64, 31, 14), Note(127, 9, 6), kSongEnd}}));
}

TEST_F(ParserTest, GroupsChainInStreamOrderAndAreCounted) {
    Parse({0x82,              // measure bar
           0x01, 0x0C, 0x3C,  // C5 quarter, track 0
           0x02, 0x0F, 0x40,  // E5 half, track 1
           0x00,              // group 1 ends
           0x00,              // group 2 is empty
           0x82, 0x86,        // group 3: measure bar, repeat end
           0x03, 0x09, 0x43,  // group 4: G5 eighth, track 2
           0xFF});            // ... and song end
    EXPECT_EQ(results_, (std::vector<int32_t>{1, 1, 1, 0}));
    EXPECT_EQ(groups_, (std::vector<Group>{{Control(0x82), Note(60, 12, 0), Note(64, 15, 1)},
                                           {},
                                           {Control(0x82), Control(0x86)},
                                           {Note(67, 9, 2), kSongEnd}}));
    EXPECT_EQ(groupCounts_, (std::vector<int32_t>{1, 2, 3, 3}));
    EXPECT_EQ(song_->barsParsed, 2);
}

TEST_F(ParserTest, StreamCutOffEndsSongWithoutReadingPastImage) {
    // After a note at 0x208..0x20a, an event starting at 0x20b runs into the
    // end of the file: it is dropped and a song end closes the group.
    struct Case {
        const char* what;
        Bytes cut;
    };
    for (const Case& c : {Case{"key after 1 byte", {0x80}}, Case{"key after 2 bytes", {0x80, 0x12}},
                          Case{"tempo", {0x81}}, Case{"time signature", {0x83}},
                          Case{"loudness after 1 byte", {0x84}}, Case{"loudness after 2 bytes", {0x84, 0x00}},
                          Case{"repeat start", {0x85}}, Case{"note after 1 byte", {0x02}},
                          Case{"note after 2 bytes", {0x02, 0x0F}}}) {
        SCOPED_TRACE(c.what);
        Bytes stream = {0x01, 0x0C, 0x3C};  // C5 quarter, track 0
        for (const uint8_t byte : c.cut) stream.push_back(byte);
        Parse(stream);
        EXPECT_EQ(results_, (std::vector<int32_t>{0}));
        EXPECT_EQ(groups_, (std::vector<Group>{{Note(60, 12, 0), kSongEnd}}));
        EXPECT_TRUE(CursorAtEnd());
        EXPECT_EQ(out_, "");  // a cut tempo prints no tempo line
        EXPECT_EQ(err_.rfind("songsim: stream.sng: ", 0), 0u) << err_;
        EXPECT_NE(err_.find("offset 0x20b"), std::string::npos) << err_;
    }
}

TEST_F(ParserTest, StreamWithoutSongEndIsEndedAtImageEnd) {
    struct Case {
        const char* what;
        Bytes stream;
        std::vector<int32_t> results;
        std::vector<Group> groups;
        const char* endOffset;
    };
    const Ev c5 = Note(60, 12, 0);
    for (const Case& c : {
             Case{"empty stream", {}, {0}, {{kSongEnd}}, "0x208"},
             // 01 0C 3C  C5 quarter, track 0
             Case{"after a note", {0x01, 0x0C, 0x3C}, {0}, {{c5, kSongEnd}}, "0x20b"},
             // 01 0C 3C  C5 quarter; 82  measure bar
             Case{"after a measure bar", {0x01, 0x0C, 0x3C, 0x82}, {0}, {{c5, Control(0x82), kSongEnd}},
                  "0x20c"},
             // 01 0C 3C  C5 quarter; 00  end of group
             Case{"after a group end", {0x01, 0x0C, 0x3C, 0x00}, {1, 0}, {{c5}, {kSongEnd}}, "0x20c"},
         }) {
        SCOPED_TRACE(c.what);
        Parse(c.stream);
        EXPECT_EQ(results_, c.results);
        EXPECT_EQ(groups_, c.groups);
        EXPECT_TRUE(CursorAtEnd());
        EXPECT_EQ(err_.rfind("songsim: stream.sng: ", 0), 0u) << err_;
        EXPECT_NE(err_.find(std::string("offset ") + c.endOffset), std::string::npos) << err_;
    }
}

// Fails every allocation after the first `gAllocationsLeft`.
int gAllocationsLeft = 0;
void* FailAfter(size_t count, size_t size) {
    return gAllocationsLeft-- > 0 ? std::calloc(count, size) : nullptr;
}

// Installs the failing allocator for one scope; the default comes back even
// when an assertion leaves the test early.
class FailingAllocator {
public:
    explicit FailingAllocator(int allowed) {
        gAllocationsLeft = allowed;
        ListSetAllocator(FailAfter);
    }
    ~FailingAllocator() { ListSetAllocator(nullptr); }
    FailingAllocator(const FailingAllocator&) = delete;
    FailingAllocator& operator=(const FailingAllocator&) = delete;
};

TEST_F(ParserTest, OutOfMemoryDropsTheGroup) {
    struct Case {
        const char* what;
        Bytes stream;
        int allowed;  // events made before the failing one
    };
    // 82  measure bar; 01 0C 3C  C5 quarter; 02 0F 40  E5 half; FF  song end
    const Bytes group = {0x82, 0x01, 0x0C, 0x3C, 0x02, 0x0F, 0x40, 0xFF};
    for (const Case& c : {Case{"first event", group, 0}, Case{"second event", group, 1},
                          Case{"third event", group, 2}, Case{"song end", group, 3},
                          // 86  repeat end
                          Case{"repeat end", {0x86, 0xFF}, 0},
                          // 82  measure bar, then the stream ends: the added song end fails
                          Case{"song end of a cut stream", {0x82}, 1}}) {
        SCOPED_TRACE(c.what);
        {
            FailingAllocator failing(c.allowed);
            Parse(c.stream);
        }
        EXPECT_EQ(results_, (std::vector<int32_t>{-1}));
        EXPECT_EQ(groups_, (std::vector<Group>{{}}));
        EXPECT_NE(err_.find("out of memory"), std::string::npos) << err_;
        EXPECT_EQ(ListHead(&song_->events), nullptr);
        // Whatever was made before the failure is freed; LeakSanitizer checks.
    }
}

TEST(NewEventTest, IsZeroFilledWithKindSet) {
    for (int32_t kind : {kEventNote, kEventControl}) {
        SEVENT* event = NewEvent(kind);
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->kind, kind);
        EXPECT_EQ(event->next, nullptr);
        EXPECT_EQ(event->code, 0);
        EXPECT_EQ(event->value, 0);
        EXPECT_EQ(event->track, 0);
        EXPECT_EQ(event->flags, 0u);
        EXPECT_EQ(ListNext(event), nullptr);
        FreeGroup(event);
    }
}

}  // namespace
