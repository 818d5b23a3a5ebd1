#pragma once

#include "linkroute.h"

#include "socketapi.h"

#include <cstdint>
#include <optional>
#include <string>

// Asks hosts on one Ethernet link whether they take TCP connections on a
// port, with a bare SYN sent through a packet socket straight to the MAC
// address their ARP reply gave: a host answers SYN-ACK (open) or RST
// (closed). Unlike a connect, this takes no entry in the kernel's
// neighbour table, which holds 1024 by default and keeps each answered one
// for half a minute or more; on a segment with thousands of hosts the
// connects would wait for it. The SYN-ACK meets no socket here, so the
// kernel resets that half-open connection itself, as after a port scan.
// Linux only, like the sweep; needs CAP_NET_RAW to open.
class PortProbe
{
public:
    struct Answer
    {
        in_addr host{};
        bool open = false;
    };

    PortProbe(const LinkRoute &route, std::uint16_t port);
    ~PortProbe();
    PortProbe(const PortProbe &) = delete;
    PortProbe &operator=(const PortProbe &) = delete;

    bool open(std::string *error);
    SocketHandle handle() const { return m_packetSocket; }

    bool sendSyn(in_addr host, const MacAddress &mac);
    // The next answer to one of our SYNs, if any; never blocks.
    std::optional<Answer> takeAnswer();

private:
    std::uint32_t sequenceFor(in_addr host) const;

    LinkRoute m_route;
    std::uint16_t m_port;
    // A TCP socket bound, never listening, holds our local port, so that
    // no connection of this host's own meets the answers.
    SocketHandle m_portHolder = noSocket;
    std::uint16_t m_localPort = 0;
    SocketHandle m_packetSocket = noSocket;
    std::uint32_t m_secret = 0;
};
