#include "check/check.h"

#include <array>
#include <string>
#include <string_view>

#include "output/text.h"
#include "song/tables.h"

// The JSON of a check. (Its own file: the fuzzer leaves the JSON library out
// of its coverage tracing, where it would take most of every run.)

namespace {

std::string Hex(std::string_view bytes) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

}  // namespace

nlohmann::ordered_json CheckJson(const SongCheck& check) {
    using json = nlohmann::ordered_json;
    const std::string file = CleanText(check.file);
    json object = {{"file", file}};
    // A name that is not clean text cannot be mapped back from "file".
    if (file != check.file) object["fileBytes"] = Hex(check.file);
    object["status"] = VerdictKey(check.verdict);
    if (check.verdict == Verdict::Unreadable) {
        object["reason"] = CleanText(check.whyUnreadable);
        return object;
    }
    const Timeline& t = check.timeline;
    json tracks = json::array();
    for (const CheckedTrack& track : check.tracks)
        tracks.push_back({{"track", track.track},
                          {"name", track.name},
                          {"channel", track.channel},
                          {"patch", track.patch},
                          {"instrument", InstrumentName(track.patch)},
                          {"enabled", track.enabled},
                          {"notes", track.notes}});
    json errors = json::array();
    for (const TimedError& e : t.errors)
        errors.push_back({{"code", e.error.code},
                          {"tick", e.tick},
                          {"measure", e.measure},
                          {"track", IsTrackNumber(e.error.track) ? e.error.track : -1},
                          {"note", NoteName(e.error.note)}});
    object.update({{"title", check.title},
                   {"ticks", t.lastTick},
                   {"seconds", check.seconds},
                   {"measures", t.measures},
                   {"notes", t.notesOn},
                   {"rests", t.rests},
                   {"ties", t.ties},
                   {"groups", t.groups},
                   {"peakSlots", t.peakSlots},
                   {"peakTick", t.peakTick},
                   {"peakMeasure", t.peakMeasure},
                   {"tracks", tracks},
                   {"errors", errors},
                   {"stop", nullptr},
                   {"damage", nullptr}});
    if (t.stopReason != kStopNone)
        object["stop"] = {{"reason", StopKey(t.stopReason)}, {"tick", t.lastTick}, {"measure", t.stopMeasure}};
    if (check.damage) object["damage"] = {{"offset", check.damage->offset}, {"message", check.damage->message}};
    return object;
}
