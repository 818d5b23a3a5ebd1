#include "arpprobe.h"

#include "arppacket.h"

#include <arpa/inet.h>
#include <net/if_arp.h>
#include <net/ethernet.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::chrono::milliseconds resendInterval{1000};

}

ArpProbe::ArpProbe(const LinkRoute &route)
    : m_route(route)
{
}

ArpProbe::~ArpProbe()
{
    if (m_socket >= 0)
        close(m_socket);
}

bool ArpProbe::open(std::string *error, bool *notPermitted)
{
    *notPermitted = false;
    m_socket = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETHERTYPE_ARP));
    if (m_socket < 0) {
        *notPermitted = errno == EPERM || errno == EACCES;
        *error = std::string("cannot open a packet socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETHERTYPE_ARP);
    local.sll_ifindex = m_route.interfaceIndex;
    if (bind(m_socket, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        *error = std::string("cannot bind the packet socket to ") + m_route.interfaceName + ": "
            + std::strerror(errno);
        return false;
    }
    return true;
}

bool ArpProbe::sendRequest(in_addr target)
{
    ArpPacket request{};
    request.hardwareType = htons(ARPHRD_ETHER);
    request.protocolType = htons(ETHERTYPE_IP);
    request.hardwareLength = 6;
    request.protocolLength = 4;
    request.operation = htons(ARPOP_REQUEST);
    std::memcpy(request.senderHardware, m_route.hardwareAddress.data(), 6);
    std::memcpy(request.senderProtocol, &m_route.source, 4);
    std::memcpy(request.targetProtocol, &target, 4);

    sockaddr_ll broadcast{};
    broadcast.sll_family = AF_PACKET;
    broadcast.sll_protocol = htons(ETHERTYPE_ARP);
    broadcast.sll_ifindex = m_route.interfaceIndex;
    broadcast.sll_halen = 6;
    std::memset(broadcast.sll_addr, 0xff, 6);
    return sendto(m_socket, &request, sizeof request, 0, reinterpret_cast<sockaddr *>(&broadcast),
                  sizeof broadcast)
        == static_cast<ssize_t>(sizeof request);
}

std::optional<MacAddress> ArpProbe::resolve(in_addr target, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + wait;
    auto nextRequest = Clock::now();
    for (;;) {
        auto now = Clock::now();
        if (now >= end)
            return std::nullopt;
        if (now >= nextRequest) {
            sendRequest(target);
            nextRequest = now + resendInterval;
        }
        const auto until = std::min(end, nextRequest);
        const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        pollfd entry{m_socket, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(pause) + 1) <= 0)
            continue;

        ArpPacket reply{};
        const ssize_t length = recv(m_socket, &reply, sizeof reply, 0);
        if (length < static_cast<ssize_t>(sizeof reply))
            continue;
        // Our own outgoing request passes through the socket as well; only a
        // reply from the target counts.
        if (ntohs(reply.operation) != ARPOP_REPLY || ntohs(reply.protocolType) != ETHERTYPE_IP
            || reply.hardwareLength != 6 || reply.protocolLength != 4
            || std::memcmp(reply.senderProtocol, &target, 4) != 0)
            continue;
        MacAddress mac;
        std::memcpy(mac.data(), reply.senderHardware, 6);
        return mac;
    }
}
