#include "bootpmessage.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

namespace {
// Field offsets, RFC 951.
constexpr std::size_t opAt = 0, htypeAt = 1, hlenAt = 2, hopsAt = 3, secsAt = 8, flagsAt = 10,
                      yiaddrAt = 16, siaddrAt = 20, chaddrAt = 28, snameAt = 44, fileAt = 108,
                      vendAt = 236;
constexpr std::size_t snameSize = 64, fileSize = 128;
constexpr std::uint8_t bootRequest = 1, bootReply = 2, ethernet = 1;
constexpr std::uint8_t broadcastFlag = 0x80;
// RFC 1048 vendor area: magic cookie, then options; 255 ends them.
constexpr std::uint8_t vendorCookie[4] = {99, 130, 83, 99};
constexpr std::uint8_t endOption = 255;
}

BootpMessage::BootpMessage(std::vector<std::uint8_t> bytes)
    : m_bytes(std::move(bytes))
{
}

bool BootpMessage::isBootLoaderRequest(const MacAddress &mac) const
{
    if (m_bytes.size() < vendAt)
        return false;
    if (m_bytes[opAt] != bootRequest || m_bytes[htypeAt] != ethernet || m_bytes[hlenAt] != 6)
        return false;
    if (!std::equal(mac.begin(), mac.end(), m_bytes.begin() + chaddrAt))
        return false;
    const char *name = reinterpret_cast<const char *>(m_bytes.data() + snameAt);
    const std::string serverName(name, strnlen(name, snameSize));
    return strcasecmp(serverName.c_str(), "stellaris") == 0;
}

bool BootpMessage::isReplyTo(const MacAddress &mac) const
{
    return m_bytes.size() >= vendAt && m_bytes[opAt] == bootReply && m_bytes[htypeAt] == ethernet
        && m_bytes[hlenAt] == 6 && std::equal(mac.begin(), mac.end(), m_bytes.begin() + chaddrAt);
}

bool BootpMessage::wantsBroadcastReply() const
{
    return m_bytes.size() > flagsAt && (m_bytes[flagsAt] & broadcastFlag);
}

std::vector<std::uint8_t> BootpMessage::makeReply(in_addr clientAddress, in_addr serverAddress,
                                                  const std::string &bootFile) const
{
    // Starting from the request keeps xid, flags, ciaddr, giaddr, chaddr and
    // sname as the client sent them.
    std::vector<std::uint8_t> reply(m_bytes.begin(), m_bytes.begin() + std::min(m_bytes.size(), vendAt));
    reply.resize(size, 0);
    reply[opAt] = bootReply;
    reply[hopsAt] = 0;
    reply[secsAt] = reply[secsAt + 1] = 0;
    std::memcpy(&reply[yiaddrAt], &clientAddress, 4);
    std::memcpy(&reply[siaddrAt], &serverAddress, 4);
    std::fill(reply.begin() + fileAt, reply.begin() + fileAt + fileSize, 0);
    std::memcpy(&reply[fileAt], bootFile.data(), std::min(bootFile.size(), fileSize - 1));
    if (m_bytes.size() >= vendAt + 4 && std::equal(std::begin(vendorCookie), std::end(vendorCookie), m_bytes.begin() + vendAt)) {
        std::copy(std::begin(vendorCookie), std::end(vendorCookie), reply.begin() + vendAt);
        reply[vendAt + 4] = endOption;
    }
    return reply;
}
