// Captures what songsim code prints, for unit tests.
#pragma once

#include <functional>
#include <string>

// Runs `body` with the program's output sent to a memory buffer and returns
// everything it printed.
std::string CaptureOutput(const std::function<void()>& body);
