#pragma once

#include "ipv4address.h"
#include "macaddress.h"

#include "socketapi.h"

#include <optional>
#include <string>

// The interface and source address that the kernel's routing table picks to
// reach an IPv4 address, with what the tools need to know about that
// interface. The tools must talk through the interface the routing table
// names, not through whichever adapter comes first.
struct LinkRoute
{
    int interfaceIndex = 0;
    std::string interfaceName;
    in_addr source{};
    bool viaGateway = false;
    // The router, when viaGateway.
    in_addr gateway{};
    // The destination is one of this host's own addresses.
    bool isLocal = false;
    bool isLoopback = false;
    bool canBroadcast = false;
    // Only Ethernet-like interfaces speak ARP.
    bool isEthernet = false;
    MacAddress hardwareAddress{};
};

// Asks the routing table (netlink; GetBestRoute2 on Windows) for the route
// to `destination`.
std::optional<LinkRoute> lookupRoute(in_addr destination, std::string *error);

// The interface that holds `address` as one of this host's own addresses.
std::optional<LinkRoute> findLocalInterface(in_addr address);
