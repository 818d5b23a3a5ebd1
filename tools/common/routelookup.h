#pragma once

#include "linkroute.h"

#include <map>
#include <optional>
#include <string>

// Many route lookups in a row, as an ARP sweep makes for tens of thousands
// of addresses: one routing socket for all, each interface described once.
// Linux only, like the sweep; one lookup alone is lookupRoute().
class RouteLookup
{
public:
    RouteLookup() = default;
    ~RouteLookup();
    RouteLookup(const RouteLookup &) = delete;
    RouteLookup &operator=(const RouteLookup &) = delete;

    std::optional<LinkRoute> find(in_addr destination, std::string *error);

private:
    int m_socket = -1;
    std::map<int, LinkRoute> m_interfaces;
};
