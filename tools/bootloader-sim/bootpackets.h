#pragma once

#include "macaddress.h"

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The datagrams a device's boot loader sends and reads, written here on
// their own and not shared with eflash, so that a misreading of the protocol
// on one side shows up in the tests.
namespace bootpackets {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t magicPort = 9, bootServerPort = 67, bootClientPort = 68, tftpPort = 69;
constexpr std::size_t tftpBlockSize = 512;
constexpr std::uint16_t opReadRequest = 1, opData = 3, opAck = 4, opError = 5;

// Six bytes 0xaa, then the MAC four times: what wakes the boot loader.
Bytes magicPacket(const MacAddress &mac);

Bytes bootRequest(std::uint32_t xid, const MacAddress &mac, const std::string &serverName, bool broadcastFlag);

struct BootReply
{
    in_addr assignedAddress{};
    in_addr serverAddress{};
    std::string bootFile;
};
// The reply to our request `xid` for `mac`; nothing for any other datagram.
std::optional<BootReply> readBootReply(const Bytes &datagram, std::uint32_t xid, const MacAddress &mac);

Bytes tftpReadRequest(const std::string &file);
Bytes tftpAck(std::uint16_t block);
Bytes tftpError(std::uint16_t code, const std::string &message);

// Big-endian 16-bit field at `at`; 0 past the end.
std::uint16_t word(const Bytes &bytes, std::size_t at);
// The text of a TFTP error packet.
std::string tftpErrorText(const Bytes &packet);

sockaddr_in endpoint(in_addr address, std::uint16_t port);

}
