#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

using MacAddress = std::array<std::uint8_t, 6>;

// Six two-digit hex groups joined by ":" or by "-" (one separator throughout),
// the two forms service staff copy from device labels and Windows tools.
std::optional<MacAddress> parseMacAddress(const std::string &text);

// Lower-case hex groups joined by ":".
std::string formatMacAddress(const MacAddress &mac);
