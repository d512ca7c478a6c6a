// libFuzzer entry: any byte string, taken as song source text, goes through
// the assembler, plain and with the line map and engine verdict of --strict. Besides
// the sanitizers (no crash, leak or undefined behavior) and libFuzzer's
// timeout (no hang), every run checks that an error names a place inside
// the text, and that a song the assembler builds survives the round trip:
// disassembled and assembled again, it gives the same bytes. The message of
// an error, which quotes the text, is printed as asm prints it and must be
// valid UTF-8 with no control character.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "clean_messages.h"
#include "song/open.h"
#include "song/loader.h"
#include "source/assembler.h"
#include "source/disassembler.h"
#include "source/strict.h"

namespace {

// A broken rule is a finding: abort, so libFuzzer saves the input.
void Require(bool holds, const char* rule) {
    if (holds) return;
    std::fprintf(stderr, "fuzz_asm: broken rule: %s\n", rule);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool clean = (RequireCleanMessages("fuzz_asm"), true);
    (void)clean;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (const LineMap map : {LineMap::Skip, LineMap::Keep}) {
        const Assembly assembly = Assemble(text, map);
        if (assembly.error) {
            const SourceError& error = *assembly.error;
            Require(error.line >= 1 && error.line <= lines && error.column >= 0, "an error names a line of the text");
            Require(!error.message.empty() && assembly.song.empty(), "an error has a message and no song");
            PrintMessage(FormatSourceError("fuzz.song", error));
            continue;
        }
        Require(assembly.song.size() >= kHeaderSize, "a song has its whole header");
        if (map == LineMap::Keep) {
            Require(std::ranges::is_sorted(assembly.lines, {}, &SourceLine::offset), "the line map rises");
            if (const std::optional<SourceError> refusal = RefuseUnclean(assembly.song, assembly.lines))
                Require(refusal->line >= 1 && refusal->line <= lines && refusal->column == 0,
                        "a strict refusal names a line of the text");
        }
        const Assembly again = Assemble(Disassemble(assembly.song));
        Require(!again.error && again.song == assembly.song, "what the assembler builds survives the round trip");
    }
    return 0;
}
