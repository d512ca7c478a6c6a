// libFuzzer entry: any byte string is a song file (behind an all-zero header
// when it is shorter than one); disassembled (with the engine's ticks, as
// `songsim dis` does) and assembled again, it must give back the very same
// bytes. Any message the run prints must be valid UTF-8 with no control
// character.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "clean_messages.h"
#include "song/open.h"
#include "song/loader.h"
#include "source/assembler.h"
#include "source/disassembler.h"
#include "source/played_ticks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool clean = (RequireCleanMessages("fuzz_round_trip"), true);
    (void)clean;
    std::vector<uint8_t> song(size < kHeaderSize ? kHeaderSize : 0, 0);
    song.insert(song.end(), data, data + size);
    PlayedTicks ticks(song);
    const Assembly assembly = Assemble(Disassemble(song, &ticks));
    if (assembly.error || assembly.song != song) {
        std::fprintf(stderr, "fuzz_round_trip: asm(dis(bytes)) != bytes%s\n",
                     assembly.error ? (": " + FormatSourceError("dis", *assembly.error)).c_str() : "");
        std::abort();
    }
    return 0;
}
