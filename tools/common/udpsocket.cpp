#include "udpsocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

UdpSocket::~UdpSocket()
{
    if (m_fd >= 0)
        close(m_fd);
}

UdpSocket::UdpSocket(UdpSocket &&other) noexcept
{
    *this = std::move(other);
}

UdpSocket &UdpSocket::operator=(UdpSocket &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_interfaceIndex = other.m_interfaceIndex;
        m_source = other.m_source;
        m_boundToDevice = other.m_boundToDevice;
    }
    return *this;
}

bool UdpSocket::open(in_addr address, std::uint16_t port, const std::string &interfaceName,
                     int interfaceIndex, in_addr source, std::string *error)
{
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        *error = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return false;
    }
    m_interfaceIndex = interfaceIndex;
    m_source = source;
    const int on = 1;
    // No SO_REUSEADDR: a second flasher, or a DHCP server, on the same port
    // would silently share our requests. UDP leaves no TIME_WAIT behind, so
    // a quick re-run does not need it either.
    setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    // Needs CAP_NET_RAW on older kernels; IP_PKTINFO on every send and the
    // interface check on every receive keep us on the right interface anyway.
    m_boundToDevice = setsockopt(m_fd, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                                 static_cast<socklen_t>(interfaceName.size()))
        == 0;

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(port);
    if (bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        const std::string portText = "UDP port " + std::to_string(port);
        if (errno == EADDRINUSE)
            *error = portText + " is already in use (another flasher, or a DHCP or TFTP server?)";
        else if (errno == EACCES || errno == EPERM)
            *error = "cannot bind " + portText + ": needs root or the cap_net_bind_service capability";
        else
            *error = "cannot use " + portText + " on " + inet_ntoa(address) + ": " + std::strerror(errno);
        close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

std::uint16_t UdpSocket::localPort() const
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length);
    return ntohs(local.sin_port);
}

bool UdpSocket::sendTo(in_addr address, std::uint16_t port, const std::vector<std::uint8_t> &bytes) const
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = address;
    to.sin_port = htons(port);
    return sendTo(to, bytes);
}

bool UdpSocket::sendTo(const sockaddr_in &to, const std::vector<std::uint8_t> &bytes) const
{
    iovec payload{const_cast<std::uint8_t *>(bytes.data()), bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in *>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = m_interfaceIndex;
    info.ipi_spec_dst = m_source;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    return sendmsg(m_fd, &message, 0) == static_cast<ssize_t>(bytes.size());
}

std::optional<UdpSocket::Datagram> UdpSocket::receive() const
{
    // One buffer for all reads: a fresh 64 KiB vector per block costs more
    // than the block itself.
    static thread_local std::uint8_t buffer[65536];
    Datagram datagram;
    iovec payload{buffer, sizeof buffer};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &datagram.from;
    message.msg_namelen = sizeof datagram.from;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = recvmsg(m_fd, &message, 0);
    if (length < 0)
        return std::nullopt;
    datagram.bytes.assign(buffer, buffer + length);
    for (cmsghdr *header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            datagram.interfaceIndex = info.ipi_ifindex;
        }
    }
    return datagram;
}

bool sameEndpoint(const sockaddr_in &a, const sockaddr_in &b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}
