// Message splitting: CountParts and GetPart over any text and separator agree with each other,
// so every index the pickers draw from 0..CountParts-1 names an existing part.
#include "FuzzUtil.h"

#include "core/Settings.h"
#include "core/Shuffle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::BalanceCheck balance;
    const std::string input(reinterpret_cast<const char*>(data), size);
    // First byte picks the separator: the program's own or a short one taken from the input.
    std::string separator = MSG_SEPARATOR, text = input;
    if (!input.empty() && (input[0] & 1)) {
        const size_t n = std::min<size_t>(static_cast<uint8_t>(input[0]) >> 5, input.size() - 1);
        separator = input.substr(1, n);
        text = input.substr(1 + n);
    }
    const int parts = CountParts(text, separator);
    if (parts < 1) std::abort();
    size_t total = 0;
    std::string part;
    for (int k = 0; k < parts; ++k) {
        if (!GetPart(text, separator, k, part)) {
            std::fprintf(stderr, "CountParts says %d parts, GetPart(%d) fails\n", parts, k);
            std::abort();
        }
        total += part.size();
    }
    if (GetPart(text, separator, parts, part)) std::abort();
    if (!separator.empty() && total + size_t(parts - 1) * separator.size() != text.size()) std::abort();
    return 0;
}
