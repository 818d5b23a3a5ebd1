#include "ipv4address.h"

#include "socketapi.h"

#include <cstdint>

std::optional<in_addr> parseIpv4Address(const std::string &text)
{
    std::uint32_t value = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.'))
            return std::nullopt;
        const std::size_t start = at;
        unsigned number = 0;
        while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9')
            number = number * 10 + static_cast<unsigned>(text[at++] - '0');
        const std::size_t digits = at - start;
        if (digits == 0 || number > 255 || (digits > 1 && text[start] == '0'))
            return std::nullopt;
        value = value << 8 | number;
    }
    if (at != text.size())
        return std::nullopt;
    in_addr address{};
    address.s_addr = htonl(value);
    return address;
}

std::string addressText(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool isDeviceAddress(in_addr address)
{
    const std::uint32_t value = ntohl(address.s_addr);
    const bool multicast = (value >> 28) == 0xe;
    return value != 0 && value != 0xffffffffu && !multicast;
}

bool isLoopbackAddress(in_addr address)
{
    return (ntohl(address.s_addr) >> 24) == 127;
}
