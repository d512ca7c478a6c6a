#include "diff/diff_picture.h"

#include <algorithm>
#include <string>
#include <vector>

#include "output/text.h"
#include "picture/xml.h"
#include "song/tables.h"

namespace {

constexpr int kRowHeight = 6;    // a semitone
constexpr int kLeft = 48;        // the gutter, for the names of the Cs
constexpr int kTop = 28;         // the measure numbers
constexpr int kBottom = 12;
constexpr int kMinWidth = 640;
constexpr size_t kMostMeasureLines = 20000;
constexpr size_t kFlushAt = size_t{1} << 20;

constexpr std::string_view kStyle =
    "body{font-family:sans-serif;margin:16px;color:#222}"
    "h1{font-size:20px;margin:0 0 8px}p{margin:4px 0}"
    ".picture{overflow-x:auto;margin-top:12px;border:1px solid #ddd}.picture svg{display:block}"
    ".same{fill:#9a9a9a}.a{fill:#d62728}.b{fill:#1f77b4}.first{stroke:#000;stroke-width:2;stroke-dasharray:4 3}"
    ".bar{stroke:#ddd}.c{stroke:#eee}text{font-size:10px;fill:#555}"
    ".key span{display:inline-block;width:12px;height:10px;margin:0 4px 0 12px}";

struct Frame {
    int64_t end = 1;        // the last tick drawn
    int64_t tickWidth = 1;  // pixels a tick
    int low = 60;           // the rows: a C ...
    int high = 71;          // ... to a B
    int64_t X(int64_t tick) const { return kLeft + std::clamp<int64_t>(tick, 0, end) * tickWidth; }
    int Y(int pitch) const { return kTop + (high - pitch) * kRowHeight; }
    int64_t Width() const { return X(end) + 16; }
    int Height() const { return kTop + (high - low + 1) * kRowHeight + kBottom; }
};

Frame FrameOf(const DiffSide& a, const DiffSide& b) {
    Frame frame;
    int low = 127, high = 0;
    for (const DiffSide* side : {&a, &b})
        for (const DiffNote& note : side->notes) {
            frame.end = std::max(frame.end, note.off);
            low = std::min<int>(low, note.pitch);
            high = std::max<int>(high, note.pitch);
        }
    if (low <= high) {
        frame.low = low / 12 * 12;
        frame.high = high / 12 * 12 + 11;
    }
    frame.tickWidth = std::max<int64_t>(1, kMinWidth / frame.end);
    return frame;
}

void Note(std::string& out, const Frame& frame, const DiffNote& note, const char* kind, bool inset,
          const std::string& tooltip) {
    const int64_t x = frame.X(note.on);
    const int y = frame.Y(note.pitch) + (inset ? 2 : 0);
    XmlTag(out, "rect")
        .Attr("class", kind)
        .Attr("x", x)
        .Attr("y", y)
        .Attr("width", std::max<int64_t>(1, frame.X(note.off) - x))
        .Attr("height", inset ? kRowHeight - 4 : kRowHeight - 1)
        .Titled(tooltip);
}

std::string NoteTooltip(const DiffSide& side, const DiffNote& note) {
    const std::string& name = side.TrackName(note.track);
    return Printed("%s, ticks %lld to %lld, velocity %d, channel %d, track %d%s%s", NoteText(note.pitch).c_str(),
                   static_cast<long long>(note.on), static_cast<long long>(note.off), note.velocity, note.channel,
                   note.track, name.empty() ? "" : " ", name.c_str());
}

}  // namespace

void WriteDiffPage(const DiffReportInput& input, const std::function<void(std::string_view)>& sink) {
    const DiffResult& result = input.result;
    const Frame frame = FrameOf(input.a, input.b);
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    const std::string heading = CleanText(input.a.file) + " and " + CleanText(input.b.file);
    XmlTag(out, "title").Text(heading + " (songsim diff)");
    out += "\n<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
    XmlTag(out, "h1").Text(heading + ": " + (result.same ? "same" : "differ"));
    out += "\n";
    // The report's header lines, as `diff` prints them.
    std::string summary = DiffReport(input, 0);
    summary = summary.substr(summary.find('\n') + 1);
    for (size_t at = 0; at < summary.size();) {
        const size_t end = summary.find('\n', at);
        if (end == std::string::npos) break;
        if (summary.compare(at, 3, "...") != 0) XmlTag(out, "p").Text(summary.substr(at, end - at));
        at = end + 1;
        out += "\n";
    }
    out += "<p class=\"key\"><span class=\"same\" style=\"background:#9a9a9a\"></span>the same in both"
           "<span style=\"background:#d62728\"></span>A's note (" +
           XmlEscaped(CleanText(input.a.file)) +
           ")<span style=\"background:#1f77b4\"></span>B's note (" + XmlEscaped(CleanText(input.b.file)) +
           "), drawn inside A's</p>\n<div class=\"picture\">\n";
    XmlTag(out, "svg")
        .Attr("xmlns", "http://www.w3.org/2000/svg")
        .Attr("width", frame.Width())
        .Attr("height", frame.Height())
        .Open();
    const MeasureMap& measures = result.measuresOfB ? input.b.measures : input.a.measures;
    for (const auto& [tick, measure] : measures.Starts(frame.end + 1, kMostMeasureLines)) {
        const int64_t x = frame.X(tick);
        XmlTag(out, "line").Attr("class", "bar").Attr("x1", x).Attr("x2", x).Attr("y1", kTop - 10).Attr("y2", frame.Height() - kBottom).Empty();
        XmlTag(out, "text").Attr("x", x + 2).Attr("y", kTop - 12).Text(std::to_string(measure));
    }
    for (int c = frame.low; c <= frame.high; c += 12) {
        const int y = frame.Y(c) + kRowHeight;
        XmlTag(out, "line").Attr("class", "c").Attr("x1", kLeft).Attr("x2", frame.X(frame.end)).Attr("y1", y).Attr("y2", y).Empty();
        XmlTag(out, "text").Attr("x", 4).Attr("y", y).Text(NoteText(c));
    }
    std::vector<bool> differsA(input.a.notes.size());
    for (const Difference& d : result.differences)
        if (d.a) differsA[static_cast<size_t>(d.a - input.a.notes.data())] = true;
    for (size_t i = 0; i < input.a.notes.size(); ++i) {
        if (differsA[i]) continue;
        Note(out, frame, input.a.notes[i], "same", false, NoteTooltip(input.a, input.a.notes[i]));
        if (out.size() > kFlushAt) sink(std::exchange(out, {}));
    }
    for (const Difference& d : result.differences) {
        const std::string line = DifferenceLine(input, d);
        if (d.a) Note(out, frame, *d.a, "a", false, "A: " + line);
        if (d.b) Note(out, frame, *d.b, "b", true, "B: " + line);
        if (out.size() > kFlushAt) sink(std::exchange(out, {}));
    }
    if (result.firstTick) {
        const int64_t x = frame.X(*result.firstTick);
        XmlTag(out, "line")
            .Attr("class", "first")
            .Attr("x1", x)
            .Attr("x2", x)
            .Attr("y1", kTop - 10)
            .Attr("y2", frame.Height() - kBottom)
            .Titled(Printed("first difference: tick %lld, measure %d", static_cast<long long>(*result.firstTick),
                            result.firstMeasure));
    }
    CloseTag(out, "svg");
    out += "\n</div>\n</body>\n</html>\n";
    sink(out);
}
