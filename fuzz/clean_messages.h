// Every message a fuzz target's run makes is taken here instead of going to
// standard error, and must be safe to print: valid UTF-8 with no control
// character, whatever bytes the input held.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "output/output.h"
#include "output/text.h"

inline void RequireCleanMessages(const char* target) {
    SetMessageTaker([target](std::string_view line) {
        if (CleanText(line) == line) return;
        std::fprintf(stderr, "%s: broken rule: a message holds control or non-UTF-8 bytes\n", target);
        std::abort();
    });
}
