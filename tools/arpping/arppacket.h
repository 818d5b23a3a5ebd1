#pragma once

#include <cstdint>

// An ARP packet for IPv4 over Ethernet, as the raw ARP socket sends and
// receives it; the kernel adds the Ethernet header.
struct [[gnu::packed]] ArpPacket
{
    std::uint16_t hardwareType;
    std::uint16_t protocolType;
    std::uint8_t hardwareLength;
    std::uint8_t protocolLength;
    std::uint16_t operation;
    std::uint8_t senderHardware[6];
    std::uint8_t senderProtocol[4];
    std::uint8_t targetHardware[6];
    std::uint8_t targetProtocol[4];
};
static_assert(sizeof(ArpPacket) == 28);
