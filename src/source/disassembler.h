// A song file as song source text (docs/source-language.md): the assembler
// builds the text back into the very same bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class PlayedTicks;
class TextOut;

// `song` is a whole song file of at least the header's size. Each group's
// comment gives its measure (the measure bars so far, its own included) and,
// with `ticks`, the tick at which the engine applies it.
std::string Disassemble(std::span<const uint8_t> song, PlayedTicks* ticks = nullptr);
// The same text written to `out`.
void Disassemble(std::span<const uint8_t> song, PlayedTicks* ticks, TextOut& out);
