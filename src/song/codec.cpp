#include "song/codec.h"

const ControlEvent* FindControl(std::string_view word) {
    for (const ControlEvent& control : kControlEvents)
        if (control.word == word) return &control;
    return nullptr;
}

