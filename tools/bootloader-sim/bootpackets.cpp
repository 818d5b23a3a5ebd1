#include "bootpackets.h"

#include <algorithm>
#include <cstring>

namespace bootpackets {

namespace {

constexpr std::size_t bootpSize = 300, bootpMinimumReply = 236;
constexpr std::size_t xidAt = 4, flagsAt = 10, yiaddrAt = 16, siaddrAt = 20, chaddrAt = 28, snameAt = 44,
                      fileAt = 108, fileSize = 128, snameSize = 64;

Bytes tftpHeader(std::uint16_t opcode, std::uint16_t number)
{
    return {static_cast<std::uint8_t>(opcode >> 8), static_cast<std::uint8_t>(opcode),
            static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
}

void appendText(Bytes &bytes, const std::string &text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
}

}

Bytes magicPacket(const MacAddress &mac)
{
    Bytes packet(6, 0xaa);
    for (int copy = 0; copy < 4; ++copy)
        packet.insert(packet.end(), mac.begin(), mac.end());
    return packet;
}

Bytes bootRequest(std::uint32_t xid, const MacAddress &mac, const std::string &serverName, bool broadcastFlag)
{
    Bytes request(bootpSize, 0);
    request[0] = 1; // BOOTREQUEST
    request[1] = 1; // Ethernet
    request[2] = 6;
    std::memcpy(&request[xidAt], &xid, 4);
    if (broadcastFlag)
        request[flagsAt] = 0x80;
    std::copy(mac.begin(), mac.end(), request.begin() + chaddrAt);
    std::copy_n(serverName.begin(), std::min(serverName.size(), snameSize - 1), request.begin() + snameAt);
    return request;
}

std::optional<BootReply> readBootReply(const Bytes &datagram, std::uint32_t xid, const MacAddress &mac)
{
    if (datagram.size() < bootpMinimumReply || datagram[0] != 2 || std::memcmp(&datagram[xidAt], &xid, 4) != 0
        || !std::equal(mac.begin(), mac.end(), datagram.begin() + chaddrAt))
        return std::nullopt;
    BootReply reply;
    std::memcpy(&reply.assignedAddress, &datagram[yiaddrAt], 4);
    std::memcpy(&reply.serverAddress, &datagram[siaddrAt], 4);
    const auto file = datagram.begin() + fileAt;
    reply.bootFile.assign(file, std::find(file, file + fileSize, 0));
    return reply;
}

Bytes tftpReadRequest(const std::string &file)
{
    Bytes request{0, opReadRequest};
    appendText(request, file);
    appendText(request, "octet");
    return request;
}

Bytes tftpAck(std::uint16_t block)
{
    return tftpHeader(opAck, block);
}

Bytes tftpError(std::uint16_t code, const std::string &message)
{
    Bytes error = tftpHeader(opError, code);
    appendText(error, message);
    return error;
}

std::uint16_t word(const Bytes &bytes, std::size_t at)
{
    return bytes.size() < at + 2 ? 0 : static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

std::string tftpErrorText(const Bytes &packet)
{
    const auto begin = packet.begin() + std::min<std::size_t>(4, packet.size());
    return std::string(begin, std::find(begin, packet.end(), 0));
}

sockaddr_in endpoint(in_addr address, std::uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr = address;
    result.sin_port = htons(port);
    return result;
}

}
