#pragma once

#include "linkroute.h"
#include "udpsocket.h"

#include <chrono>

// What all devices of one run share: the link they are reached through, the
// sockets for magic packets, BOOTP (port 67) and TFTP read requests (port
// 69), and the limits.
struct FlashLink
{
    LinkRoute route;
    UdpSocket magicSocket;
    UdpSocket bootSocket;
    UdpSocket tftpSocket;
    // The BOOTP client port, where other servers' broadcast replies to our
    // devices show; not open where this host uses the port itself.
    UdpSocket bootClientSocket;
    // For the boot loader's first BOOTP request, and again from there to its
    // TFTP read request.
    std::chrono::milliseconds bootLoaderWait{30000};
};
