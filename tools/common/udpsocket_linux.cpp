#include "udpsocket.h"

#include <cstring>

std::string UdpSocket::boundToDeviceNeeds()
{
    return "on older kernels that needs root or the cap_net_raw capability";
}

bool UdpSocket::open(in_addr address, std::uint16_t port, const std::string &interfaceName,
                     int interfaceIndex, in_addr source, std::string *error)
{
    m_socket = openSocket(SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (m_socket == noSocket) {
        *error = "cannot open a UDP socket: " + lastSocketErrorText();
        return false;
    }
    m_interfaceIndex = interfaceIndex;
    m_source = source;
    const int on = 1;
    // No SO_REUSEADDR: a second flasher, or a DHCP server, on the same port
    // would silently share our requests. UDP leaves no TIME_WAIT behind, so
    // a quick re-run does not need it either.
    setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(m_socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    // Needs CAP_NET_RAW on older kernels; IP_PKTINFO on every send and the
    // interface check on every receive keep us on the right interface anyway.
    m_boundToDevice = setsockopt(m_socket, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                                 static_cast<socklen_t>(interfaceName.size()))
        == 0;

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(port);
    if (bind(m_socket, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        const std::string portText = "UDP port " + std::to_string(port);
        const SocketFailure failure = lastSocketFailure();
        if (failure == SocketFailure::AddressInUse)
            *error = portText + " is already in use (another flasher, or a DHCP or TFTP server?)";
        else if (failure == SocketFailure::NotPermitted)
            *error = "cannot bind " + portText + ": needs root or the cap_net_bind_service capability";
        else
            *error = "cannot use " + portText + " on " + inet_ntoa(address) + ": " + lastSocketErrorText();
        closeSocket(m_socket);
        m_socket = noSocket;
        return false;
    }
    return true;
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
    return sendmsg(m_socket, &message, 0) == static_cast<ssize_t>(bytes.size());
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
    const ssize_t length = recvmsg(m_socket, &message, 0);
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
