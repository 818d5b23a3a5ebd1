#include "boundednumber.h"

#include <limits>

std::optional<long long> parseBoundedNumber(const std::string &text, long long minimum, long long maximum)
{
    const bool negative = !text.empty() && text[0] == '-';
    const std::size_t first = negative ? 1 : 0;
    if (text.size() == first)
        return std::nullopt;
    // Counted towards the negative end, which holds one more value.
    long long value = 0;
    constexpr long long lowest = std::numeric_limits<long long>::min();
    for (std::size_t at = first; at < text.size(); ++at) {
        const char c = text[at];
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest)
            return std::nullopt;
        value = -value;
    }
    if (value < minimum || value > maximum)
        return std::nullopt;
    return value;
}
