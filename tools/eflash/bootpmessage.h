#pragma once

#include "macaddress.h"

#include "socketapi.h"

#include <cstdint>
#include <string>
#include <vector>

// The fixed-layout BOOTP message (RFC 951) as the Ethernet boot loader
// sends it: it asks for an address and the name of the image to fetch.
class BootpMessage
{
public:
    static constexpr std::size_t size = 300;
    static constexpr std::uint16_t serverPort = 67;
    static constexpr std::uint16_t clientPort = 68;

    explicit BootpMessage(std::vector<std::uint8_t> bytes);

    // The boot loader's own request: op 1 over Ethernet from `mac`, with the
    // server name "stellaris" in any letter case. Other BOOTP or DHCP
    // traffic on the link is not ours to answer.
    bool isBootLoaderRequest(const MacAddress &mac) const;
    bool wantsBroadcastReply() const;
    // Any server's BOOTREPLY (or DHCP answer) to the Ethernet client `mac`.
    bool isReplyTo(const MacAddress &mac) const;

    // The BOOTREPLY to this request: same xid, flags and chaddr.
    std::vector<std::uint8_t> makeReply(in_addr clientAddress, in_addr serverAddress,
                                        const std::string &bootFile) const;

private:
    std::vector<std::uint8_t> m_bytes;
};
