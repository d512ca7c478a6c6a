#include "diff/diff_report.h"

#include <cinttypes>

#include "output/text.h"
#include "song/tables.h"

namespace {

std::string Count(int64_t count, const char* noun) {
    return Printed("%" PRId64 " %s%s", count, noun, count == 1 ? "" : "s");
}

const char* TimelineName(DiffTimeline timeline) {
    return timeline == DiffTimeline::AsWritten ? "as written (the notation, 48 ticks a quarter)"
                                               : "as played (the engine's ticks, 48 a quarter)";
}

std::string SideLine(const DiffSide& side) {
    std::string line = CleanText(side.file) + ": ";
    if (side.midiFile)
        line += "MIDI file";
    else
        line += "song" + (side.title.empty() ? std::string() : " \"" + side.title + "\"");
    line += ", " + Count(static_cast<int64_t>(side.notes.size()), "note");
    if (!side.midiFile) line += ", " + side.played;
    return line;
}

std::string TrackText(const DiffSide& side, int32_t track) {
    const std::string& name = side.TrackName(track);
    return "track " + std::to_string(track) + (name.empty() ? "" : " " + name);
}

std::string NoteSpan(const DiffNote& note) {
    return Printed("%" PRId64 " to %" PRId64 ", channel %d, velocity %d", note.on, note.off, note.channel,
                   note.velocity);
}

// What changed of a paired note, each way it differs.
std::string PairText(const DiffNote& x, const DiffNote& y, int64_t tolerance) {
    std::string text = NoteText(x.pitch);
    std::string sep = " ";
    const auto add = [&](const std::string& part) {
        text += sep + part;
        sep = ", ";
    };
    if (x.pitch != y.pitch) add("re-pitched to " + NoteText(y.pitch));
    const int64_t shift = y.on - x.on;
    if ((shift < 0 ? -shift : shift) > tolerance)
        add(Printed("moved %+" PRId64 " tick%s (%" PRId64 " -> %" PRId64 ")", shift, shift == 1 || shift == -1 ? "" : "s",
                    x.on, y.on));
    const int64_t lengthA = x.off - x.on;
    const int64_t lengthB = y.off - y.on;
    const int64_t grown = lengthB - lengthA;
    if (grown > tolerance)
        add(Printed("%s longer (%" PRId64 " -> %" PRId64 ")", Count(grown, "tick").c_str(), lengthA, lengthB));
    if (-grown > tolerance)
        add(Printed("%s shorter (%" PRId64 " -> %" PRId64 ")", Count(-grown, "tick").c_str(), lengthA, lengthB));
    if (y.velocity != x.velocity)
        add(Printed("%s (velocity %d -> %d)", y.velocity > x.velocity ? "louder" : "softer", x.velocity, y.velocity));
    return text;
}

const char* ControlName(DiffKind kind) {
    switch (kind) {
        case DiffKind::Key: return "key signature";
        case DiffKind::Time: return "time signature";
        default: return "tempo";
    }
}

nlohmann::ordered_json NoteJson(const DiffNote* note) {
    if (!note) return nullptr;
    return {{"on", note->on},         {"off", note->off},           {"channel", note->channel},
            {"pitch", note->pitch},   {"velocity", note->velocity}, {"track", note->track}};
}

nlohmann::ordered_json ControlJson(const DiffControl* control) {
    if (!control) return nullptr;
    return {{"tick", control->tick}, {"value", ControlValueText(*control)}};
}

nlohmann::ordered_json SideJson(const DiffSide& side) {
    return {{"file", CleanText(side.file)},
            {"kind", side.midiFile ? "midi" : "song"},
            {"title", side.title},
            {"notes", side.notes.size()},
            {"played", side.played},
            {"complete", side.complete}};
}

// The side whose note names the track of a difference: A's when it has one.
const DiffNote* TrackNote(const Difference& difference) {
    return difference.a ? difference.a : difference.b;
}

}  // namespace

std::string DifferenceLine(const DiffReportInput& input, const Difference& d) {
    std::string line = Printed("tick %" PRId64 ", measure %d", d.tick, d.measure);
    if (const DiffNote* note = TrackNote(d)) {
        line += ", " + TrackText(d.a ? input.a : input.b, note->track) + ": ";
        if (d.a && d.b)
            line += PairText(*d.a, *d.b, input.tolerance);
        else if (d.a)
            line += NoteText(d.a->pitch) + " only in A (" + NoteSpan(*d.a) + ")";
        else
            line += NoteText(d.b->pitch) + " only in B (" + NoteSpan(*d.b) + ")";
        return line;
    }
    line += std::string(": ") + ControlName(d.kind);
    if (d.controlA && d.controlB)
        line += " " + ControlValueText(*d.controlA) + " -> " + ControlValueText(*d.controlB) +
                (d.controlA->tick != d.controlB->tick
                     ? Printed(" (tick %" PRId64 " -> %" PRId64 ")", d.controlA->tick, d.controlB->tick)
                     : "");
    else if (d.controlA)
        line += " " + ControlValueText(*d.controlA) + " only in A";
    else if (d.controlB)
        line += " " + ControlValueText(*d.controlB) + " only in B";
    return line;
}

std::string DiffReport(const DiffReportInput& input, size_t limit) {
    const DiffResult& result = input.result;
    const DiffCounts& c = result.counts;
    std::string report = result.same ? "same\n" : "differ\n";
    report += "  A        " + SideLine(input.a) + "\n";
    report += "  B        " + SideLine(input.b) + "\n";
    report += std::string("  compared ") + TimelineName(input.timeline) + ", tolerance " +
              Count(input.tolerance, "tick") + (result.measuresOfB ? "; measures as B counts them" : "") + "\n";
    if (result.firstTick)
        report += Printed("  first    tick %" PRId64 ", measure %d\n", *result.firstTick, result.firstMeasure);
    report += Printed("  notes    %" PRId64 " matched, %" PRId64 " only in A, %" PRId64 " only in B, %" PRId64
                      " moved, %" PRId64 " re-pitched, %" PRId64 " longer, %" PRId64 " shorter, %" PRId64
                      " louder, %" PRId64 " softer\n",
                      c.matched, c.onlyInA, c.onlyInB, c.Of(DiffKind::Moved), c.Of(DiffKind::Repitched),
                      c.Of(DiffKind::Longer), c.Of(DiffKind::Shorter), c.Of(DiffKind::Louder), c.Of(DiffKind::Softer));
    report += Printed("  changes  %" PRId64 " tempo, %" PRId64 " key signature, %" PRId64 " time signature differ\n",
                      c.Of(DiffKind::Tempo), c.Of(DiffKind::Key), c.Of(DiffKind::Time));
    report += Printed("  score    precision %.4f, recall %.4f, F-measure %.4f\n", result.score.precision,
                      result.score.recall, result.score.fMeasure);
    const size_t shown = std::min(limit, result.differences.size());
    for (size_t i = 0; i < shown; ++i) report += DifferenceLine(input, result.differences[i]) + "\n";
    if (shown < result.differences.size())
        report += Printed("... %zu more difference%s (--limit %zu)\n", result.differences.size() - shown,
                          result.differences.size() - shown == 1 ? "" : "s", limit);
    return report;
}

nlohmann::ordered_json DiffJson(const DiffReportInput& input) {
    const DiffResult& result = input.result;
    const DiffCounts& c = result.counts;
    nlohmann::ordered_json json;
    json["same"] = result.same;
    json["timeline"] = input.timeline == DiffTimeline::AsWritten ? "written" : "played";
    json["tolerance"] = input.tolerance;
    json["a"] = SideJson(input.a);
    json["b"] = SideJson(input.b);
    json["measuresOf"] = result.measuresOfB ? "b" : "a";
    json["firstDifference"] = result.firstTick ? nlohmann::ordered_json{{"tick", *result.firstTick},
                                                                        {"measure", result.firstMeasure}}
                                               : nlohmann::ordered_json(nullptr);
    nlohmann::ordered_json counts = {{"matched", c.matched}, {"onlyInA", c.onlyInA}, {"onlyInB", c.onlyInB}};
    for (const DiffKind kind : {DiffKind::Moved, DiffKind::Repitched, DiffKind::Longer, DiffKind::Shorter,
                                DiffKind::Louder, DiffKind::Softer, DiffKind::Tempo, DiffKind::Key, DiffKind::Time})
        counts[std::string(DiffKindName(kind))] = c.Of(kind);
    json["counts"] = std::move(counts);
    nlohmann::ordered_json differences = nlohmann::ordered_json::array();
    for (const Difference& d : result.differences) {
        const DiffNote* note = TrackNote(d);
        nlohmann::ordered_json entry = {{"kind", DiffKindName(d.kind)}, {"tick", d.tick}, {"measure", d.measure}};
        entry["track"] = note ? nlohmann::ordered_json(note->track) : nlohmann::ordered_json(nullptr);
        entry["note"] = note ? nlohmann::ordered_json(note->pitch) : nlohmann::ordered_json(nullptr);
        const bool isNote = d.a || d.b;
        entry["a"] = isNote ? NoteJson(d.a) : ControlJson(d.controlA);
        entry["b"] = isNote ? NoteJson(d.b) : ControlJson(d.controlB);
        entry["text"] = DifferenceLine(input, d);
        differences.push_back(std::move(entry));
    }
    json["differences"] = std::move(differences);
    json["score"] = {{"precision", result.score.precision},
                     {"recall", result.score.recall},
                     {"fMeasure", result.score.fMeasure}};
    return json;
}
