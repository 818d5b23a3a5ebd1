#include "udpsocket.h"

#include <mswsock.h>

#include <cstring>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

// WSARecvMsg is reached only through a pointer that Winsock hands out.
LPFN_WSARECVMSG receiveMessageFunction(SocketHandle socket)
{
    static LPFN_WSARECVMSG function = nullptr;
    if (!function) {
        GUID id = WSAID_WSARECVMSG;
        DWORD returned = 0;
        WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                 &returned, nullptr, nullptr);
    }
    return function;
}

}

std::string UdpSocket::boundToDeviceNeeds()
{
    return "Windows refused IP_UNICAST_IF";
}

bool UdpSocket::open(in_addr address, std::uint16_t port, const std::string &, int interfaceIndex,
                     in_addr source, std::string *error)
{
    m_socket = openSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (m_socket == noSocket || !makeNonBlocking(m_socket)) {
        *error = "cannot open a UDP socket: " + lastSocketErrorText();
        closeSocket(m_socket);
        m_socket = noSocket;
        return false;
    }
    m_interfaceIndex = interfaceIndex;
    m_source = source;
    const BOOL on = TRUE;
    const BOOL off = FALSE;
    const auto option = [this](int level, int name, const void *value, int size) {
        return setsockopt(m_socket, level, name, static_cast<const char *>(value), size) == 0;
    };
    // Windows lets a later socket with SO_REUSEADDR take over a port that is
    // not held exclusively: no other program may share our requests.
    option(SOL_SOCKET, SO_EXCLUSIVEADDRUSE, &on, sizeof on);
    option(SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    option(IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    // IP_UNICAST_IF takes the index in network byte order; the IP_PKTINFO
    // on every send names the interface as well, in case it is refused.
    const DWORD index = htonl(static_cast<DWORD>(interfaceIndex));
    m_boundToDevice = option(IPPROTO_IP, IP_UNICAST_IF, &index, sizeof index);
    // Without this an ICMP "port unreachable" for an earlier datagram fails
    // the next receive.
    DWORD returned = 0;
    WSAIoctl(m_socket, SIO_UDP_CONNRESET, const_cast<BOOL *>(&off), sizeof off, nullptr, 0, &returned, nullptr,
             nullptr);

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
            *error = "cannot bind " + portText
                + ": access denied (another program holds it, such as a DHCP server on port 67 or Internet"
                  " Connection Sharing, or the firewall or a policy refuses it; try with administrator rights)";
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
    WSABUF payload{static_cast<ULONG>(bytes.size()), reinterpret_cast<char *>(const_cast<std::uint8_t *>(bytes.data()))};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr *>(const_cast<sockaddr_in *>(&to));
    message.namelen = sizeof to;
    message.lpBuffers = &payload;
    message.dwBufferCount = 1;
    message.Control.buf = control;
    message.Control.len = sizeof control;
    WSACMSGHDR *header = WSA_CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
    IN_PKTINFO info{};
    info.ipi_addr = m_source;
    info.ipi_ifindex = static_cast<ULONG>(m_interfaceIndex);
    std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
    DWORD sent = 0;
    return WSASendMsg(m_socket, &message, 0, &sent, nullptr, nullptr) == 0 && sent == bytes.size();
}

std::optional<UdpSocket::Datagram> UdpSocket::receive() const
{
    static thread_local std::uint8_t buffer[65536];
    const LPFN_WSARECVMSG receiveMessage = receiveMessageFunction(m_socket);
    if (!receiveMessage)
        return std::nullopt;
    Datagram datagram;
    WSABUF payload{sizeof buffer, reinterpret_cast<char *>(buffer)};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr *>(&datagram.from);
    message.namelen = sizeof datagram.from;
    message.lpBuffers = &payload;
    message.dwBufferCount = 1;
    message.Control.buf = control;
    message.Control.len = sizeof control;
    DWORD length = 0;
    if (receiveMessage(m_socket, &message, &length, nullptr, nullptr) != 0)
        return std::nullopt;
    datagram.bytes.assign(buffer, buffer + length);
    for (WSACMSGHDR *header = WSA_CMSG_FIRSTHDR(&message); header; header = WSA_CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info;
            std::memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
            datagram.interfaceIndex = static_cast<int>(info.ipi_ifindex);
        }
    }
    return datagram;
}
