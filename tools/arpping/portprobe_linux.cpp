#include "portprobe.h"

#include <linux/filter.h>
#include <net/ethernet.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <linux/if_packet.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace {

struct [[gnu::packed]] SynPacket
{
    iphdr ip;
    tcphdr tcp;
};
static_assert(sizeof(SynPacket) == 40);

std::uint16_t checksum(const void *data, std::size_t length, std::uint32_t sum = 0)
{
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += std::uint32_t(bytes[i] << 8 | bytes[i + 1]);
    if (length % 2)
        sum += std::uint32_t(bytes[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return htons(std::uint16_t(~sum));
}

// TCP from `port` to `localPort`, no fragment: nothing else reaches the
// socket, so a busy segment takes no room in its buffer.
bool acceptAnswersOnly(int socket, std::uint16_t port, std::uint16_t localPort)
{
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 9),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_TCP, 0, 8),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x1fff, 6, 0),
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, port, 0, 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 2),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, localPort, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{sizeof code / sizeof code[0], code};
    return setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

}

PortProbe::PortProbe(const LinkRoute &route, std::uint16_t port)
    : m_route(route)
    , m_port(port)
    , m_secret(std::random_device{}())
{
}

PortProbe::~PortProbe()
{
    closeSocket(m_packetSocket);
    closeSocket(m_portHolder);
}

bool PortProbe::open(std::string *error)
{
    m_portHolder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = m_route.source;
    socklen_t length = sizeof local;
    if (m_portHolder < 0 || bind(m_portHolder, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || getsockname(m_portHolder, reinterpret_cast<sockaddr *>(&local), &length) != 0) {
        *error = std::string("cannot take a local TCP port: ") + std::strerror(errno);
        return false;
    }
    m_localPort = ntohs(local.sin_port);

    m_packetSocket = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETHERTYPE_IP));
    if (m_packetSocket < 0) {
        *error = std::string("cannot open a packet socket for IP: ") + std::strerror(errno);
        return false;
    }
    if (!acceptAnswersOnly(m_packetSocket, m_port, m_localPort)) {
        *error = std::string("cannot filter the packet socket for IP: ") + std::strerror(errno);
        return false;
    }
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETHERTYPE_IP);
    link.sll_ifindex = m_route.interfaceIndex;
    if (bind(m_packetSocket, reinterpret_cast<sockaddr *>(&link), sizeof link) != 0) {
        *error = "cannot bind the packet socket for IP to " + m_route.interfaceName + ": " + std::strerror(errno);
        return false;
    }
    while (takeAnswer()) {
    }
    return true;
}

std::uint32_t PortProbe::sequenceFor(in_addr host) const
{
    // Answers must acknowledge this, so a stray or forged packet for our
    // port tells nothing.
    std::uint32_t value = host.s_addr ^ m_secret;
    value = (value ^ (value >> 16)) * 0x45d9f3bU;
    value = (value ^ (value >> 16)) * 0x45d9f3bU;
    return value ^ (value >> 16);
}

bool PortProbe::sendSyn(in_addr host, const MacAddress &mac)
{
    SynPacket packet{};
    packet.ip.version = 4;
    packet.ip.ihl = 5;
    packet.ip.tot_len = htons(sizeof packet);
    packet.ip.id = htons(std::uint16_t(sequenceFor(host)));
    packet.ip.frag_off = htons(IP_DF);
    packet.ip.ttl = 64;
    packet.ip.protocol = IPPROTO_TCP;
    packet.ip.saddr = m_route.source.s_addr;
    packet.ip.daddr = host.s_addr;
    packet.ip.check = checksum(&packet.ip, sizeof packet.ip);
    packet.tcp.source = htons(m_localPort);
    packet.tcp.dest = htons(m_port);
    packet.tcp.seq = htonl(sequenceFor(host));
    packet.tcp.doff = 5;
    packet.tcp.syn = 1;
    packet.tcp.window = htons(1024);
    // Over the pseudo-header: both addresses, protocol and TCP length.
    const std::uint32_t pseudo = (ntohl(packet.ip.saddr) >> 16) + (ntohl(packet.ip.saddr) & 0xffff)
        + (ntohl(packet.ip.daddr) >> 16) + (ntohl(packet.ip.daddr) & 0xffff) + IPPROTO_TCP + sizeof packet.tcp;
    packet.tcp.check = checksum(&packet.tcp, sizeof packet.tcp, pseudo);

    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETHERTYPE_IP);
    to.sll_ifindex = m_route.interfaceIndex;
    to.sll_halen = 6;
    std::memcpy(to.sll_addr, mac.data(), 6);
    return sendto(m_packetSocket, &packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&to), sizeof to)
        == ssize_t(sizeof packet);
}

std::optional<PortProbe::Answer> PortProbe::takeAnswer()
{
    std::uint8_t bytes[128];
    for (;;) {
        const ssize_t length = recv(m_packetSocket, bytes, sizeof bytes, 0);
        if (length < 0)
            return std::nullopt;
        iphdr ip{};
        if (std::size_t(length) < sizeof ip)
            continue;
        std::memcpy(&ip, bytes, sizeof ip);
        const std::size_t headerLength = ip.ihl * 4u;
        tcphdr tcp{};
        if (ip.version != 4 || ip.protocol != IPPROTO_TCP || headerLength < sizeof ip
            || std::size_t(length) < headerLength + sizeof tcp || ip.daddr != m_route.source.s_addr)
            continue;
        std::memcpy(&tcp, bytes + headerLength, sizeof tcp);
        const in_addr host{ip.saddr};
        if (ntohs(tcp.source) != m_port || ntohs(tcp.dest) != m_localPort || !tcp.ack
            || ntohl(tcp.ack_seq) != sequenceFor(host) + 1)
            continue;
        if (tcp.syn && !tcp.rst)
            return Answer{host, true};
        if (tcp.rst)
            return Answer{host, false};
    }
}
