#include "udpsocket.h"

#include <utility>

UdpSocket::~UdpSocket()
{
    closeSocket(m_socket);
}

UdpSocket::UdpSocket(UdpSocket &&other) noexcept
{
    *this = std::move(other);
}

UdpSocket &UdpSocket::operator=(UdpSocket &&other) noexcept
{
    if (this != &other) {
        closeSocket(m_socket);
        m_socket = std::exchange(other.m_socket, noSocket);
        m_interfaceIndex = other.m_interfaceIndex;
        m_source = other.m_source;
        m_boundToDevice = other.m_boundToDevice;
    }
    return *this;
}

std::uint16_t UdpSocket::localPort() const
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(m_socket, reinterpret_cast<sockaddr *>(&local), &length);
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

bool sameEndpoint(const sockaddr_in &a, const sockaddr_in &b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}
