// songgen: writes a generated song file of about N events from a seed.
//   songgen --events N --seed S OUTPUT.sng
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "song_generator.h"
#include "song_writer.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: songgen --events N --seed S OUTPUT.sng\n");
    return 2;
}

bool ParseNumber(std::string_view text, uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
    SongGenOptions options;
    std::string output;
    bool haveEvents = false;
    bool haveSeed = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if ((arg == "--events" || arg == "--seed") && i + 1 < argc) {
            uint64_t& target = arg == "--events" ? options.events : options.seed;
            if (!ParseNumber(argv[++i], target)) return Usage();
            (arg == "--events" ? haveEvents : haveSeed) = true;
        } else if (!arg.starts_with("-") && output.empty()) {
            output = arg;
        } else {
            return Usage();
        }
    }
    if (!haveEvents || !haveSeed || output.empty()) return Usage();

    const GeneratedSong song = GenerateSong(options);
    FILE* file = std::fopen(output.c_str(), "wb");
    const bool written = file && std::fwrite(song.bytes.data(), 1, song.bytes.size(), file) == song.bytes.size();
    if (!file || std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "songgen: cannot write %s\n", output.c_str());
        return 1;
    }
    const SongGenStats& s = song.stats;
    std::printf("%s: %zu bytes, %llu events (%llu notes, %llu rests, %llu controls), %llu groups, "
                "%d tracks, %llu ties, at most %d slots, %llu ticks\n",
                output.c_str(), song.bytes.size(), static_cast<unsigned long long>(s.events),
                static_cast<unsigned long long>(s.notes), static_cast<unsigned long long>(s.rests),
                static_cast<unsigned long long>(s.controls), static_cast<unsigned long long>(s.groups), s.tracks,
                static_cast<unsigned long long>(s.tieBegins), s.maxSlots,
                static_cast<unsigned long long>(s.playTicks));
    return 0;
}
