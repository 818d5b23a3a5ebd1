#pragma once

#include "socketapi.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A UDP socket pinned to one interface. Datagrams leave through that
// interface with its address as source (IP_PKTINFO), so a broadcast cannot
// slip out through another adapter even where binding to the interface
// (SO_BINDTODEVICE, IP_UNICAST_IF on Windows) is refused.
class UdpSocket
{
public:
    struct Datagram
    {
        std::vector<std::uint8_t> bytes;
        sockaddr_in from{};
        int interfaceIndex = 0;
    };

    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(UdpSocket &&other) noexcept;
    UdpSocket &operator=(UdpSocket &&other) noexcept;
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;

    // Binds to `address`:`port` (port 0 picks a fresh one) on interface
    // `interfaceName`. `error` gets a reason phrased for the user.
    bool open(in_addr address, std::uint16_t port, const std::string &interfaceName,
              int interfaceIndex, in_addr source, std::string *error);

    SocketHandle descriptor() const { return m_socket; }
    std::uint16_t localPort() const;
    bool boundToDevice() const { return m_boundToDevice; }
    // What binding to the interface needs, for the note when it was refused.
    static std::string boundToDeviceNeeds();

    bool sendTo(in_addr address, std::uint16_t port, const std::vector<std::uint8_t> &bytes) const;
    bool sendTo(const sockaddr_in &to, const std::vector<std::uint8_t> &bytes) const;
    std::optional<Datagram> receive() const;

private:
    SocketHandle m_socket = noSocket;
    int m_interfaceIndex = 0;
    in_addr m_source{};
    bool m_boundToDevice = false;
};

bool sameEndpoint(const sockaddr_in &a, const sockaddr_in &b);
