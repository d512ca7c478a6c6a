// A song file as song source text (docs/source-language.md): the assembler
// builds the text back into the very same bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// `song` is a whole song file of at least the header's size.
std::string Disassemble(std::span<const uint8_t> song);
