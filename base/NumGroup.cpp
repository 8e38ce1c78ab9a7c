#include "base/NumGroup.h"

std::string NumGroupDigits(int64_t value)
{
    // Through unsigned so that the lowest value has a magnitude too.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    const std::string digits = std::to_string(magnitude);
    std::string out;
    const int n = static_cast<int>(digits.size());
    for (int i = 0; i < n; ++i) {
        out += digits[i];
        if ((n - 1 - i) % 3 == 0 && i != n - 1) out += ',';
    }
    return value < 0 ? "-" + out : out;
}
