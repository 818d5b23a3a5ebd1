#pragma once

#include "linkroute.h"

#include <chrono>
#include <optional>
#include <string>

// Asks for a MAC address with raw ARP requests on one Ethernet interface.
// Needs a packet socket, which only root or CAP_NET_RAW may open.
class ArpProbe
{
public:
    explicit ArpProbe(const LinkRoute &route);
    ~ArpProbe();
    ArpProbe(const ArpProbe &) = delete;
    ArpProbe &operator=(const ArpProbe &) = delete;

    // False when the socket cannot be opened; `notPermitted` tells whether
    // that was for lack of privilege.
    bool open(std::string *error, bool *notPermitted);

    // Sends a request (again each second, in case one is lost) until `target`
    // replies or `wait` has passed.
    std::optional<MacAddress> resolve(in_addr target, std::chrono::milliseconds wait);

private:
    bool sendRequest(in_addr target);

    LinkRoute m_route;
    int m_socket = -1;
};
