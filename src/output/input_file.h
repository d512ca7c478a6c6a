// Reading a whole input file (or standard input) into memory, with a limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The bytes of `path` ("-" for standard input), or none with the reason
// said on standard error under `name`: it cannot be opened or read, or it
// holds more than `limit` bytes.
std::optional<std::vector<uint8_t>> ReadWholeInput(const std::string& path, const std::string& name, size_t limit);
