#include "picture/html.h"

#include <array>
#include <charconv>

#include "picture/xml.h"

namespace {

constexpr std::string_view kStyle =
    "body{font-family:sans-serif;margin:16px;color:#222}"
    "h1{font-size:20px;margin:0 0 8px}"
    "p{margin:4px 0}"
    ".stopped,.errors,.damaged{color:#b00}"
    ".picture{overflow-x:auto;margin-top:12px;border:1px solid #ddd}"
    ".picture svg{display:block}";

std::string Count(int64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string Seconds(double seconds) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), seconds, std::chars_format::fixed, 1).ptr;
    return std::string(text.data(), end) + " s";
}

std::string VerdictText(const SongCheck& check) {
    const Timeline& song = check.timeline;
    switch (check.verdict) {
        case Verdict::Stopped:
            return "at tick " + std::to_string(song.lastTick) + ", measure " + std::to_string(song.stopMeasure) +
                   ": " + std::string(StopMeaning(song.stopReason));
        case Verdict::Errors: return Count(static_cast<int64_t>(song.errors.size()), "playback error");
        case Verdict::Damaged: return check.damage ? check.damage->message : std::string();
        case Verdict::Clean: return "plays to the end with no error";
        case Verdict::Unreadable: break;
    }
    return "unreadable";
}

}  // namespace

void WriteHtmlPage(const SongCheck& check, const Scene& scene, const TextSink& sink) {
    const std::string& title = scene.title;
    const Timeline& song = check.timeline;
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    XmlTag(page, "title").Text(title + " (songsim)");
    page += "\n<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
    XmlTag(page, "h1").Text(title);
    page += "\n";
    XmlTag(page, "p").Text("Length: " + Count(song.measures, "measure") + ", " + Count(song.lastTick, "tick") + ", " +
                           Seconds(check.seconds));
    page += "\n";
    XmlTag(page, "p")
        .Attr("class", VerdictKey(check.verdict))
        .Text("Verdict: " + std::string(VerdictKey(check.verdict)) + " (" + VerdictText(check) + ")");
    page += "\n<div class=\"picture\">\n";
    AppendSvgElement(page, scene, sink);
    page += "\n</div>\n</body>\n</html>\n";
    sink(page);
}
