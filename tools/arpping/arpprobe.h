#pragma once

#include "linkroute.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

class ArpSocket;

// Asks for a MAC address with ARP requests on one Ethernet interface: raw
// ones through a packet socket, which only root or CAP_NET_RAW may open, or
// on Windows through SendARP, which needs no rights but may be missing.
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

    // Why resolve() cannot work at all, found out by trying; empty while
    // it can.
    const std::string &unusable() const { return m_unusable; }

private:
    LinkRoute m_route;
    // Linux only; SendARP needs none.
    std::unique_ptr<ArpSocket> m_socket;
    std::string m_unusable;
};
