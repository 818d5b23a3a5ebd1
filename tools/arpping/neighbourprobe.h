#pragma once

#include "linkroute.h"

#include <chrono>
#include <optional>

// Finds a MAC address without privileges: a datagram to the address makes
// the kernel resolve it, and the kernel's neighbour table (/proc/net/arp;
// GetIpNetTable2 on Windows) then holds the answer. An entry the kernel
// still trusts from earlier traffic counts as an answer as well.
class NeighbourProbe
{
public:
    explicit NeighbourProbe(const LinkRoute &route);

    std::optional<MacAddress> resolve(in_addr target, std::chrono::milliseconds wait);

private:
    // These two differ per system.
    std::optional<MacAddress> lookUp(in_addr target) const;
    void prompt(in_addr target) const;

    LinkRoute m_route;
};
