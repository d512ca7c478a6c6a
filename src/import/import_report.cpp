#include "import/import_report.h"

#include "output/text.h"
#include "song/tables.h"

std::string ImportSummary(const ImportResult& result, const std::string& input, const std::string& output) {
    std::string text = input + ": " + std::to_string(result.notesIn) + " notes read, " +
                       std::to_string(result.notesOut) + " written to " + output + ", grid " +
                       std::to_string(result.grid) + " ticks (" + std::string(GridName(result.grid)) + ")\n";
    for (const ImportedTrack& track : result.tracks)
        text += "  track " + std::to_string(track.track) + (track.name.empty() ? "" : " " + CleanText(track.name)) + ": channel " +
                std::to_string(track.channel) + ", patch " + std::to_string(track.patch) + " " +
                InstrumentName(track.patch) + ", " + std::to_string(track.notes) + (track.notes == 1 ? " note" : " notes") + " (MIDI track " +
                std::to_string(track.midiTrack) + ", channel " + std::to_string(track.midiChannel + 1) + ")\n";
    std::string changes;
    for (const auto& [kind, count] : result.Counts())
        changes += (changes.empty() ? "" : ", ") + std::to_string(count) + " " + std::string(kind);
    text += "  changes " + (changes.empty() ? std::string("none") : changes) + "; onsets off by at most " +
            std::to_string(result.maxOnsetError) + " ticks, velocities by at most " +
            std::to_string(result.maxVelocityError) + "\n";
    return text;
}

nlohmann::ordered_json ImportJson(const ImportResult& result, const std::string& input, const std::string& output) {
    nlohmann::ordered_json json;
    json["file"] = CleanText(input);
    json["output"] = CleanText(output);
    json["notesIn"] = result.notesIn;
    json["notesOut"] = result.notesOut;
    json["grid"] = result.grid;
    nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
    for (const ImportedTrack& track : result.tracks)
        tracks.push_back({{"track", track.track},
                          {"name", CleanText(track.name)},
                          {"channel", track.channel},
                          {"patch", track.patch},
                          {"midiTrack", track.midiTrack},
                          {"midiChannel", track.midiChannel},
                          {"notes", track.notes}});
    json["tracks"] = std::move(tracks);
    nlohmann::ordered_json changes = nlohmann::ordered_json::array();
    for (const ImportChange& change : result.changes)
        changes.push_back({{"kind", change.kind},
                           {"tick", change.tick},
                           {"measure", change.measure},
                           {"track", change.track},
                           {"note", change.note},
                           {"detail", CleanText(change.detail)}});
    json["changes"] = std::move(changes);
    json["maxOnsetError"] = result.maxOnsetError;
    json["maxVelocityError"] = result.maxVelocityError;
    return json;
}
