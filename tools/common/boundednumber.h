#pragma once

#include <optional>
#include <string>

// A decimal integer from `minimum` to `maximum`, the whole text: an optional
// "-" and digits only, so no blanks, no "+", no hex, no trailing units.
std::optional<long long> parseBoundedNumber(const std::string &text, long long minimum, long long maximum);
