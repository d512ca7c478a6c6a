#include "report/tick_lines.h"

#include <charconv>
#include <cstring>
#include <span>

#include "output/output.h"

void TickLines::Make(int64_t value) {
    char* at = line_.data();
    at += kBefore.copy(at, kBefore.size());
    at = std::to_chars(at, line_.data() + line_.size(), value).ptr;
    lastDigitAt_ = static_cast<size_t>(at - line_.data()) - 1;
    lastDigit_ = line_[lastDigitAt_];
    at += kAfter.copy(at, kAfter.size());
    size_ = static_cast<size_t>(at - line_.data());
    value_ = value;
}

// Where no other digit changes (nine ticks in ten), the next value down
// only steps the last digit; false elsewhere (10 to 9, 0 to -1, -9 to -10,
// ...: a carry, or a new length).
bool TickLines::StepDown() {
    if (value_ > 0 && lastDigit_ != '0') {
        --lastDigit_;
    } else if (value_ < 0 && lastDigit_ != '9') {
        ++lastDigit_;
    } else {
        return false;
    }
    --value_;
    return true;
}

void TickLines::Print(int32_t timer, int32_t count) {
    // The lines go straight into the output, a room's worth at a time, from
    // the highest value down.
    int64_t value = int64_t{timer} + count - 1;
    while (value >= timer) {
        const std::span<char> room = OutRoom(kOutRoom);
        size_t used = 0;
        for (; value >= timer && room.size() - used >= line_.size(); --value) {
            if (size_ == 0 || value != value_ - 1 || !StepDown()) Make(value);
            // The line as it was made, then its last digit as it is now:
            // the line itself is never written between copies, which would
            // stall the copy that reads it.
            std::memcpy(room.data() + used, line_.data(), line_.size());
            room[used + lastDigitAt_] = lastDigit_;
            used += size_;
        }
        OutAppended(used);
    }
}
