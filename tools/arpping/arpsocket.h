#pragma once

#include "linkroute.h"

#include "socketapi.h"

#include <optional>
#include <string>

// A packet socket for ARP on one Ethernet interface, the one way the lookup
// and the sweep ask: only root or CAP_NET_RAW may open it (Linux only; the
// Windows lookup asks SendARP instead). It is non-blocking and lets through
// ARP replies alone, so on a busy segment the requests of other hosts take
// no room in its receive buffer.
class ArpSocket
{
public:
    struct Reply
    {
        in_addr sender{};
        MacAddress mac{};
    };

    explicit ArpSocket(const LinkRoute &route);
    ~ArpSocket() { closeSocket(m_socket); }
    ArpSocket(const ArpSocket &) = delete;
    ArpSocket &operator=(const ArpSocket &) = delete;

    // False when the socket cannot be opened; `notPermitted` tells whether
    // that was for lack of privilege.
    bool open(std::string *error, bool *notPermitted);
    SocketHandle handle() const { return m_socket; }
    const LinkRoute &route() const { return m_route; }

    // Broadcasts who-has `target`. False when the interface's queue is full
    // for now (try again shortly) or the socket failed.
    bool sendRequest(in_addr target);
    // The next reply waiting, if any; never blocks.
    std::optional<Reply> takeReply();

private:
    LinkRoute m_route;
    SocketHandle m_socket = noSocket;
};

// Asks for a packet socket's receive buffer of `bytes`, counted as the
// kernel counts frames against it: past net.core.rmem_max with CAP_NET_ADMIN
// (root), else up to twice that. Returns the bytes it holds.
int growReceiveBuffer(SocketHandle packetSocket, int bytes);
// Frames the kernel dropped for want of buffer since the last call.
unsigned takeDrops(SocketHandle packetSocket);
