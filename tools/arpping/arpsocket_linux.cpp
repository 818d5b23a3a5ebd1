#include "arpsocket.h"

#include "arppacket.h"

#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if_arp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// ARP replies only: operation (at byte 6 of the ARP packet) 2.
bool acceptRepliesOnly(int socket)
{
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARPOP_REPLY, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, sizeof(ArpPacket)),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{sizeof code / sizeof code[0], code};
    return setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

}

ArpSocket::ArpSocket(const LinkRoute &route)
    : m_route(route)
{
}

bool ArpSocket::open(std::string *error, bool *notPermitted)
{
    *notPermitted = false;
    m_socket = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETHERTYPE_ARP));
    if (m_socket < 0) {
        *notPermitted = errno == EPERM || errno == EACCES;
        *error = std::string("cannot open a packet socket: ") + std::strerror(errno);
        return false;
    }
    // Without the filter it still works, only with less room on a busy link.
    acceptRepliesOnly(m_socket);
    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETHERTYPE_ARP);
    local.sll_ifindex = m_route.interfaceIndex;
    if (bind(m_socket, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        *error = "cannot bind the packet socket to " + m_route.interfaceName + ": " + std::strerror(errno);
        return false;
    }
    // What arrived on other interfaces before the bind.
    while (takeReply()) {
    }
    takeDrops(m_socket);
    return true;
}

bool ArpSocket::sendRequest(in_addr target)
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
        == ssize_t(sizeof request);
}

std::optional<ArpSocket::Reply> ArpSocket::takeReply()
{
    ArpPacket packet{};
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = recvfrom(m_socket, &packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from),
                                        &fromLength);
        if (length < 0)
            return std::nullopt;
        if (length < ssize_t(sizeof packet) || from.sll_ifindex != m_route.interfaceIndex
            || ntohs(packet.operation) != ARPOP_REPLY || ntohs(packet.protocolType) != ETHERTYPE_IP
            || packet.hardwareLength != 6 || packet.protocolLength != 4)
            continue;
        Reply reply;
        std::memcpy(&reply.sender, packet.senderProtocol, 4);
        std::memcpy(reply.mac.data(), packet.senderHardware, 6);
        return reply;
    }
}

int growReceiveBuffer(SocketHandle packetSocket, int bytes)
{
    int held = 0;
    socklen_t length = sizeof held;
    getsockopt(packetSocket, SOL_SOCKET, SO_RCVBUF, &held, &length);
    if (held >= bytes)
        return held;
    // The kernel doubles what is asked (room for its bookkeeping) and
    // reports the doubled value, against which it counts each frame's
    // whole cost.
    bytes /= 2;
    if (setsockopt(packetSocket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        setsockopt(packetSocket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    getsockopt(packetSocket, SOL_SOCKET, SO_RCVBUF, &held, &length);
    return held;
}

unsigned takeDrops(SocketHandle packetSocket)
{
    tpacket_stats statistics{};
    socklen_t length = sizeof statistics;
    if (getsockopt(packetSocket, SOL_PACKET, PACKET_STATISTICS, &statistics, &length) != 0)
        return 0;
    return statistics.tp_drops;
}
