#include "macaddress.h"

#include <cctype>
#include <cstdio>

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
}

std::optional<MacAddress> parseMacAddress(const std::string &text)
{
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != ':' && separator != '-')
        return std::nullopt;
    MacAddress mac{};
    for (std::size_t group = 0; group < mac.size(); ++group) {
        const std::size_t at = group * 3;
        if (group > 0 && text[at - 1] != separator)
            return std::nullopt;
        const int high = hexValue(text[at]);
        const int low = hexValue(text[at + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        mac[group] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return mac;
}

std::string formatMacAddress(const MacAddress &mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}
