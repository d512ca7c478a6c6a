#include "source/text_out.h"

namespace {

// "00" to "99": the digits are written two at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (size_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

}  // namespace

void TextOut::PutNumber(int64_t value) {
    // Made backwards at the middle of `scratch`, then copied from there with
    // a fixed length, of which the number's own length is kept.
    std::array<char, 2 * kNumberSize> scratch{};
    size_t begin = kNumberSize;
    uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    for (; rest >= 100; rest /= 100) {
        begin -= 2;
        std::copy_n(&kDigitPairs[2 * (rest % 100)], 2, &scratch[begin]);
    }
    if (rest >= 10) {
        begin -= 2;
        std::copy_n(&kDigitPairs[2 * rest], 2, &scratch[begin]);
    } else {
        scratch[--begin] = static_cast<char>('0' + rest);
    }
    if (value < 0) scratch[--begin] = '-';
    Copy(&scratch[begin], kNumberSize, kNumberSize - begin);
}

void TextOut::Flush() {
    if (!sink_ || used_ == 0) return;
    sink_(std::string_view(buffer_).substr(0, used_));
    sunk_ += used_;
    used_ = 0;
}

void TextOut::MakeRoom(size_t size) {
    Flush();
    if (buffer_.size() - used_ < size) buffer_.resize(std::max(2 * buffer_.size(), used_ + size));
}
