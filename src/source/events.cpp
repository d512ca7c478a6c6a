#include "source/events.h"

const ControlEvent* FindControl(uint8_t code) {
    for (const ControlEvent& control : kControlEvents)
        if (control.code == code) return &control;
    return nullptr;
}

const ControlEvent* FindControl(std::string_view word) {
    for (const ControlEvent& control : kControlEvents)
        if (control.word == word) return &control;
    return nullptr;
}
