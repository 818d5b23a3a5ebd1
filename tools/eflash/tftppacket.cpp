#include "tftppacket.h"

#include <algorithm>
#include <cctype>

namespace tftp {

std::uint16_t opcodeOf(const std::vector<std::uint8_t> &packet)
{
    return packet.size() < 2 ? 0 : static_cast<std::uint16_t>(packet[0] << 8 | packet[1]);
}

std::uint16_t numberOf(const std::vector<std::uint8_t> &packet)
{
    return packet.size() < 4 ? 0 : static_cast<std::uint16_t>(packet[2] << 8 | packet[3]);
}

std::string errorMessageOf(const std::vector<std::uint8_t> &packet)
{
    if (packet.size() <= 4)
        return {};
    const auto begin = packet.begin() + 4;
    return std::string(begin, std::find(begin, packet.end(), 0));
}

std::optional<ReadRequestFields> parseReadRequest(const std::vector<std::uint8_t> &packet)
{
    if (opcodeOf(packet) != ReadRequest)
        return std::nullopt;
    const auto nameBegin = packet.begin() + 2;
    const auto nameEnd = std::find(nameBegin, packet.end(), 0);
    if (nameEnd == packet.end() || nameEnd == nameBegin)
        return std::nullopt;
    const auto modeBegin = nameEnd + 1;
    const auto modeEnd = std::find(modeBegin, packet.end(), 0);
    if (modeEnd == packet.end())
        return std::nullopt;
    // Option extensions (RFC 2347) may follow; they are ignored, which tells
    // the client to fall back to plain 512-byte blocks.
    ReadRequestFields fields{std::string(nameBegin, nameEnd), std::string(modeBegin, modeEnd)};
    std::transform(fields.mode.begin(), fields.mode.end(), fields.mode.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return fields;
}

namespace {
std::vector<std::uint8_t> makePacket(Opcode opcode, std::uint16_t number, std::size_t payloadSize)
{
    std::vector<std::uint8_t> packet(4 + payloadSize);
    packet[1] = static_cast<std::uint8_t>(opcode);
    packet[2] = static_cast<std::uint8_t>(number >> 8);
    packet[3] = static_cast<std::uint8_t>(number & 0xff);
    return packet;
}
}

std::vector<std::uint8_t> makeData(std::uint16_t block, const std::uint8_t *bytes, std::size_t size)
{
    std::vector<std::uint8_t> packet = makePacket(Data, block, size);
    std::copy(bytes, bytes + size, packet.begin() + 4);
    return packet;
}

std::vector<std::uint8_t> makeError(std::uint16_t code, const std::string &message)
{
    // The message ends with a NUL, which the zero-filled packet already has.
    std::vector<std::uint8_t> packet = makePacket(Error, code, message.size() + 1);
    std::copy(message.begin(), message.end(), packet.begin() + 4);
    return packet;
}

}
