#include "picture/svg.h"

#include <array>
#include <limits>
#include <string_view>

#include "song/open.h"
#include "picture/layout.h"
#include "picture/xml.h"
#include "song/tables.h"

namespace {

// One colour a track, none of them the red of the errors; the first few,
// which most songs use, the furthest apart.
constexpr std::array<std::string_view, kTrackCount> kTrackColours = {
    "#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22",
    "#17becf", "#393b79", "#637939", "#e7ba52", "#7b4173", "#0b6e4f", "#b5cf6b"};

constexpr std::string_view kStyle =
    "text{fill:#222}"
    ".title{font-size:16px;font-weight:bold}"
    ".subtitle{fill:#666;font-size:12px}"
    ".band{fill:#666;text-anchor:end}"
    ".pitch{fill:#555}"
    ".paper{fill:#fff}"
    ".black{fill:#eef0f4}"
    ".frame{fill:none;stroke:#bbb}"
    ".c{stroke:#99a}"
    ".bar{stroke:#ccc}"
    ".mark{stroke:#666}"
    ".strip{fill:#fafafa;stroke:#bbb}"
    ".slots{fill:#a9bfd6;stroke:#4a6a8a}"
    ".limit{stroke:#d00;stroke-dasharray:4 3}"
    ".full{fill:#d00;fill-opacity:.75}"
    ".marker circle{fill:#d00}"
    ".marker text{fill:#fff;font-size:10px;font-weight:bold;text-anchor:middle}"
    ".marker line{stroke:#d00;stroke-opacity:.45}"
    ".stop line{stroke:#d00;stroke-width:3}"
    ".stop text{fill:#d00;font-weight:bold}"
    ".sample{fill:#888;stroke:#888}";

// After the track colours and the legend's samples (which are not notes, so
// that scripts that pick the notes do not get them), so that these outlines
// win.
constexpr std::string_view kMarkStyle =
    ".note{stroke:none}"
    ".accent{stroke:#000;stroke-width:1.5}"
    ".rest,.rest-sample{fill-opacity:.25;stroke-dasharray:2 1}";

constexpr int kGutterX = Layout::kLeft - 10;  // where the names of the bands and the Cs end
constexpr int kPitchNamesEvery = 1200;  // pixels, about a screenful
constexpr int kCharWidth = 7;  // a generous width of one character at 11px, to keep labels apart
constexpr int kLabelGap = 6;

bool IsBlackKey(int note) { return noteNames[static_cast<size_t>(note % 12)].size() > 1; }

std::string Number(int64_t value) { return std::to_string(value); }

std::string KeyText(int32_t code) {
    std::string_view name = KeySignatureName(code);
    if (!KeySignatureSharps(code) || !name.ends_with("MAJ")) return "key code " + Number(code);
    name.remove_suffix(3);
    return std::string(name) + " major";
}

std::string TimeText(int32_t code) {
    const std::optional<TimeSignatureParts> time = TimeSignatureOf(code);
    if (!time) return "time code " + Number(code);
    return Number(time->numerator) + "/" + Number(time->denominator);
}

std::string TrackClass(int track) { return "t" + Number(track); }

// "2 Chords: channel 2, Acoustic Grand Piano", and, as the check says it,
// when the track is off in the header's enable mask (the engine plays it).
std::string TrackLegend(const CheckedTrack& track) {
    return Number(track.track) + (track.name.empty() ? "" : " " + track.name) + ": channel " + Number(track.channel) +
           ", " + InstrumentName(track.patch) + (track.enabled ? "" : " (off in the enable mask, yet it plays)");
}

void Tooltip(std::string& out, std::string_view text) { XmlTag(out, "title").Text(text); }

// Keeps the labels of one row apart: a label is written only where the one
// before it has ended; what it marks is drawn (with its tooltip) anyway.
class LabelRow {
public:
    bool Fits(int64_t x, std::string_view text) {
        if (x < freeFrom_) return false;
        freeFrom_ = x + static_cast<int64_t>(text.size()) * kCharWidth + kLabelGap;
        return true;
    }

private:
    int64_t freeFrom_ = std::numeric_limits<int64_t>::min();
};

// The text made so far is handed on once it is this long.
constexpr size_t kPieceSize = size_t{1} << 16;

class PictureWriter {
public:
    PictureWriter(std::string& out, const Scene& scene, const TextSink& sink)
        : scene_(scene), layout_(LayOut(scene)), out_(out), sink_(sink) {}

    void Svg() {
        XmlTag(out_, "svg")
            .Attr("xmlns", "http://www.w3.org/2000/svg")
            .Attr("width", layout_.width)
            .Attr("height", layout_.height)
            .Attr("viewBox", "0 0 " + Number(layout_.width) + " " + Number(layout_.height))
            .Attr("font-family", "sans-serif")
            .Attr("font-size", 11)
            .Open();
        Tooltip(out_, scene_.title + ", as songsim plays it");
        XmlTag(out_, "style").Text(Style());
        Rect("paper", 0, 0, layout_.width, layout_.height).Empty();
        Heading();
        PitchRows();
        Measures();
        Controls();
        Notes();
        Slots();
        Errors();
        Stop();
        Legend();
        CloseTag(out_, "svg");
    }

private:
    // Called between elements, in every loop over what the song holds.
    void HandOn() {
        if (out_.size() < kPieceSize) return;
        sink_(out_);
        out_.clear();
    }

    static std::string Style() {
        std::string css(kStyle);
        for (size_t track = 0; track < kTrackColours.size(); ++track) {
            const std::string colour(kTrackColours[track]);
            css += "." + TrackClass(static_cast<int>(track)) + "{fill:" + colour + ";stroke:" + colour + "}";
        }
        return css + std::string(kMarkStyle);
    }

    // "track 3 Lead", or "track 3" for a track without a name or that
    // sounded no note.
    std::string TrackText(int track) const {
        if (!IsTrackNumber(track)) return "no track";
        const std::optional<CheckedTrack>& header = scene_.tracks[static_cast<size_t>(track)];
        return TrackText(track, header ? header->name : "");
    }

    static std::string TrackText(int track, const std::string& name) {
        if (!IsTrackNumber(track)) return "no track";
        return "track " + Number(track) + (name.empty() ? "" : " " + name);
    }

    int64_t PlotWidth() const { return layout_.PlotRight() - Layout::kLeft; }

    // An element with a class, or none when `cssClass` is empty.
    XmlTag Tag(std::string_view name, std::string_view cssClass) {
        XmlTag tag(out_, name);
        if (!cssClass.empty()) tag.Attr("class", cssClass);
        return tag;
    }

    XmlTag Rect(std::string_view cssClass, int64_t x, int64_t y, int64_t width, int64_t height) {
        XmlTag rect = Tag("rect", cssClass);
        rect.Attr("x", x).Attr("y", y).Attr("width", width).Attr("height", height);
        return rect;
    }

    void Text(int64_t x, int y, std::string_view cssClass, std::string_view text) {
        Tag("text", cssClass).Attr("x", x).Attr("y", y).Text(text);
    }

    void Line(std::string_view cssClass, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
        Tag("line", cssClass).Attr("x1", x1).Attr("y1", y1).Attr("x2", x2).Attr("y2", y2).Empty();
    }

    void Heading() {
        Text(Layout::kLeft, layout_.titleY, "title", scene_.title);
        const MeasureRange drawn = scene_.measures;
        std::string subtitle = drawn.first == drawn.last ? "measure " + Number(drawn.first)
                                                         : "measures " + Number(drawn.first) + " to " + Number(drawn.last);
        subtitle += " of " + Number(scene_.songMeasures) + ", ticks " + Number(scene_.from) + " to " +
                    Number(scene_.to) + ", " +
                    (layout_.tickWidth == 1 ? "one pixel" : Number(layout_.tickWidth) + " pixels") + " a tick";
        Text(Layout::kLeft, layout_.subtitleY, "subtitle", subtitle);
        const std::array<std::pair<int, std::string_view>, 5> bands = {
            {{layout_.tempoY, "tempo"}, {layout_.keyY, "key"}, {layout_.timeY, "time"}, {layout_.measureY, "measure"},
             {layout_.markY + 4, "errors"}}};
        for (const auto& [y, name] : bands) Text(kGutterX, y, "band", name);
    }

    // Black keys shaded, and a named line under every C.
    void PitchRows() {
        for (int note = layout_.lowNote; note <= layout_.highNote; ++note) {
            if (!IsBlackKey(note)) continue;
            Rect("black", Layout::kLeft, layout_.NoteTop(note), PlotWidth(), Layout::kRowHeight).Empty();
        }
        HandOn();
        const std::vector<int64_t> again = PitchNamesAgain();
        for (int note = layout_.lowNote; note <= layout_.highNote; note += 12) {
            const int y = layout_.NoteTop(note) + Layout::kRowHeight;
            Line("c", Layout::kLeft, y, layout_.PlotRight(), y);
            Text(kGutterX, y + 4, "band pitch", NoteText(note));
            Text(layout_.PlotRight() + 4, y + 4, "pitch", NoteText(note));
            for (const int64_t x : again) Text(x + 3, y - 2, "pitch", NoteText(note));
            HandOn();
        }
        Rect("frame", Layout::kLeft, layout_.rollTop, PlotWidth(), layout_.rollBottom - layout_.rollTop).Empty();
    }

    // A wide picture names the Cs again at a measure line about every
    // screenful, for a person who scrolled away from its edges.
    std::vector<int64_t> PitchNamesAgain() const {
        std::vector<int64_t> xs;
        int64_t last = Layout::kLeft;
        for (const TimedControl& control : scene_.controls) {
            const int64_t x = layout_.X(control.tick);
            if (control.code != kCodeMeasureBar || x - last < kPitchNamesEvery) continue;
            if (layout_.PlotRight() - x < kPitchNamesEvery / 2) break;
            xs.push_back(x);
            last = x;
        }
        return xs;
    }

    void Measures() {
        LabelRow numbers;
        for (const TimedControl& control : scene_.controls) {
            if (control.code != kCodeMeasureBar) continue;
            const int64_t x = layout_.X(control.tick);
            Line("bar", x, layout_.measureY + 4, x, layout_.slotsBottom);
            const std::string number = Number(control.measure);
            if (!numbers.Fits(x, number)) continue;
            XmlTag(out_, "text").Attr("x", x).Attr("y", layout_.measureY).Open();
            out_ += number;
            Tooltip(out_, "measure " + number + " from tick " + Number(control.tick));
            CloseTag(out_, "text");
            HandOn();
        }
    }

    // Tempo, key and time, each on its row, written where they change; the
    // starts and ends of repeats on the time row, where they are applied.
    void Controls() {
        LabelRow tempos, keys, times;
        for (const TimedControl& control : scene_.controls) {
            switch (control.code) {
                case kCodeTempo: Control(control, layout_.tempoY, tempos, Number(control.value) + " bpm"); break;
                case kCodeKeySignature: Control(control, layout_.keyY, keys, KeyText(control.value)); break;
                case kCodeTimeSignature: Control(control, layout_.timeY, times, TimeText(control.value)); break;
                case kCodeRepeatStart:
                    Control(control, layout_.timeY, times, "repeat start, count " + Number(control.value), "repeat");
                    break;
                case kCodeRepeatEnd: Control(control, layout_.timeY, times, "repeat end", "repeat"); break;
                default: break;
            }
            HandOn();
        }
    }

    void Control(const TimedControl& control, int y, LabelRow& row, const std::string& text,
                 std::string_view cssClass = "") {
        const int64_t x = layout_.X(control.tick);
        Tag("g", cssClass).Open();
        Tooltip(out_, text + " from tick " + Number(control.tick) + ", measure " + Number(control.measure));
        Line("mark", x, y - 9, x, y + 2);
        if (row.Fits(x, text)) Text(x + 3, y, "", text);
        CloseTag(out_, "g");
    }

    // Notes on the roll at their pitch, rests in their track's lane.
    void Notes() {
        for (const TimedNote& note : scene_.notes) {
            if (!IsTrackNumber(note.track)) continue;
            const int laneTop = layout_.restLane[static_cast<size_t>(note.track)];
            const int top = note.rest ? laneTop + 1 : layout_.NoteTop(note.note);
            const int height = note.rest ? Layout::kLaneHeight - 2 : Layout::kRowHeight - 1;
            std::string cssClass = (note.rest ? "rest " : "note ") + TrackClass(note.track);
            if (note.accent) cssClass += " accent";
            if (note.tied) cssClass += " tied";
            const int64_t x = layout_.X(note.on);
            Rect(cssClass, x, top, std::max<int64_t>(layout_.X(note.off) - x, 1), height)
                .Attr("data-track", note.track)
                .Attr("data-note", note.note)
                .Attr("data-on", note.on)
                .Attr("data-off", note.off)
                .Attr("data-vel", note.velocity)
                .Titled(NoteTooltip(note));
            HandOn();
        }
        if (layout_.restsBottom > layout_.restsTop) Text(kGutterX, layout_.restsTop + 8, "band", "rests");
    }

    std::string NoteTooltip(const TimedNote& note) const {
        std::string text = note.rest ? "rest" : NoteText(note.note);
        text += ", " + TrackText(note.track);
        if (!note.rest) text += ", velocity " + Number(note.velocity);
        if (note.accent) text += ", accented";
        if (note.tied) text += ", tied";
        return text + ": tick " + Number(note.on) + " to " + Number(note.off) + ", measure " + Number(note.measure);
    }

    // The slots in use as a step graph against the limit; ticks in which a
    // note found no free slot in red.
    void Slots() {
        const int height = layout_.slotsBottom - layout_.slotsTop;
        Rect("strip", Layout::kLeft, layout_.slotsTop, PlotWidth(), height).Empty();
        SlotGraph();
        NoFreeSlotTicks();
        Line("limit", Layout::kLeft, layout_.slotsTop, layout_.PlotRight(), layout_.slotsTop);
        Text(layout_.PlotRight() + 4, layout_.slotsTop + 4, "", Number(kSongSlots));
        Text(kGutterX, layout_.slotsTop + height / 2 + 4, "band", "slots");
    }

    void SlotGraph() {
        XmlTag path(out_, "path");
        path.Attr("class", "slots");
        // The path, a step a level, is made in place: it is as long as the
        // song, and its letters, digits and spaces need no escaping.
        out_ += " d=\"M" + Number(layout_.X(scene_.from)) + " " + Number(layout_.LevelY(0));
        int peak = 0;
        for (const SlotLevel& level : scene_.levels) {
            out_ += "H" + Number(layout_.X(level.tick)) + "V" + Number(layout_.LevelY(level.inUse));
            peak = std::max(peak, level.inUse);
            HandOn();
        }
        out_ += "H" + Number(layout_.PlotRight()) + "V" + Number(layout_.LevelY(0)) + "Z\"";
        path.Titled("note slots in use, of " + Number(kSongSlots) + ": at most " + Number(peak) + " here");
    }

    // Drawn over the graph, which is at the limit there.
    void NoFreeSlotTicks() {
        int64_t lastFull = -1;
        for (const TimedError& error : scene_.errors) {
            if (error.error.code != kErrorNoFreeSlot || error.tick == lastFull) continue;
            lastFull = error.tick;
            const int64_t width = std::max<int64_t>(layout_.tickWidth, 2);
            Rect("full", layout_.X(error.tick), layout_.slotsTop, width, layout_.slotsBottom - layout_.slotsTop)
                .Titled("tick " + Number(error.tick) + ": a note found all " + Number(kSongSlots) + " slots taken");
            HandOn();
        }
    }

    // A red line at the error's tick, and a marker with its code above the
    // roll. The markers of errors close together stand side by side, each
    // joined to its line; a crowd of them piles up at its tick.
    void Errors() {
        constexpr int kSpacing = 2 * Layout::kMarkRadius + 2;
        constexpr int kMostShift = 8 * kSpacing;
        int64_t lastMarkX = std::numeric_limits<int64_t>::min() / 2;
        for (size_t i = 0; i < scene_.errors.size(); ++i) {
            const TimedError& error = scene_.errors[i];
            const int64_t x = layout_.X(error.tick);
            int64_t markX = std::max(x, lastMarkX + kSpacing);
            if (markX > x + kMostShift) markX = x;
            lastMarkX = markX;
            const PlaybackError& what = error.error;
            XmlTag(out_, "g")
                .Attr("class", "error marker")
                .Attr("data-code", what.code)
                .Attr("data-tick", error.tick)
                .Open();
            Tooltip(out_, ErrorSentence(what, error.tick, error.measure, TrackText(what.track, scene_.errorTrackNames[i])));
            Line("", x, layout_.rollTop, x, layout_.slotsBottom);
            if (markX != x) Line("", markX, layout_.markY, x, layout_.rollTop);
            XmlTag(out_, "circle").Attr("cx", markX).Attr("cy", layout_.markY).Attr("r", Layout::kMarkRadius).Empty();
            Text(markX, layout_.markY + 4, "", Number(what.code));
            CloseTag(out_, "g");
            HandOn();
        }
    }

    // A fatal stop ends the picture: a thick red line, and why.
    void Stop() {
        if (scene_.stopReason == kStopNone) return;
        const int64_t x = layout_.PlotRight();
        const std::string words = "stopped: " + std::string(StopMeaning(scene_.stopReason));
        XmlTag(out_, "g")
            .Attr("class", "stop")
            .Attr("data-tick", scene_.to)
            .Attr("data-reason", StopKey(scene_.stopReason))
            .Open();
        Tooltip(out_, "playback stopped at tick " + Number(scene_.to) + ", measure " + Number(scene_.stopMeasure) +
                          ": " + std::string(StopMeaning(scene_.stopReason)));
        Line("", x, layout_.stopY - 10, x, layout_.slotsBottom);
        // Left of the line where there is room, else right of it.
        const int64_t width = static_cast<int64_t>(words.size()) * kCharWidth;
        const bool roomLeft = x - 6 - width >= 0;
        XmlTag(out_, "text")
            .Attr("x", roomLeft ? x - 6 : x + 6)
            .Attr("y", layout_.stopY)
            .Attr("text-anchor", roomLeft ? "end" : "start")
            .Text(words);
        CloseTag(out_, "g");
    }

    void Legend() {
        KeyRow();
        const auto& tracks = layout_.legendTracks;
        for (size_t i = 0; i < tracks.size(); ++i) {
            const int column = static_cast<int>(i) % layout_.legendColumns;
            const int row = static_cast<int>(i) / layout_.legendColumns;
            const int x = Layout::kLeft + column * Layout::kLegendColumn;
            const int y = layout_.legendTop + row * Layout::kLegendRow;
            const std::optional<CheckedTrack>& header = scene_.tracks[static_cast<size_t>(tracks[i])];
            Rect(TrackClass(tracks[i]), x, y - 9, 16, 10).Empty();
            Text(x + 22, y, "", header ? TrackLegend(*header) : Number(tracks[i]) + ": rests only");
        }
    }

    // What the marks mean: a note, an accented note, a rest, an error, a
    // tick with no free slot.
    void KeyRow() {
        const int y = layout_.keyRowY;
        const auto x = [](int item) { return Layout::kLeft + item * Layout::kKeyItemWidth; };
        Rect("sample", x(0), y - 8, 24, 8).Empty();
        Rect("sample accent", x(1), y - 8, 24, 8).Empty();
        Rect("sample rest-sample", x(2), y - 8, 24, 8).Empty();
        XmlTag(out_, "g").Attr("class", "marker").Open();
        XmlTag(out_, "circle").Attr("cx", x(3) + 8).Attr("cy", y - 4).Attr("r", Layout::kMarkRadius).Empty();
        Text(x(3) + 8, y, "", "N");
        CloseTag(out_, "g");
        Rect("full", x(4) + 6, y - 10, 3, 12).Empty();
        constexpr std::array<std::string_view, Layout::kKeyItems> kMeanings = {"note", "accented note", "rest",
                                                                              "error N", "no free slot"};
        for (size_t item = 0; item < kMeanings.size(); ++item)
            Text(x(static_cast<int>(item)) + 30, y, "", kMeanings[item]);
    }

    const Scene& scene_;
    const Layout layout_;
    std::string& out_;
    const TextSink& sink_;
};

}  // namespace

void AppendSvgElement(std::string& out, const Scene& scene, const TextSink& sink) {
    PictureWriter(out, scene, sink).Svg();
}

void WriteSvgDocument(const Scene& scene, const TextSink& sink) {
    std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    AppendSvgElement(document, scene, sink);
    document += '\n';
    sink(document);
}
