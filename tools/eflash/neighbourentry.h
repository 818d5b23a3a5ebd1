#pragma once

#include "macaddress.h"

#include "socketapi.h"

#include <string>

// Tells the kernel's ARP table that `address` is at `mac` on `interfaceName`,
// as a DHCP server does for a client that has no address yet. `problem` gets
// a reason phrased for the user.
bool addNeighbourEntry(in_addr address, const MacAddress &mac, const std::string &interfaceName,
                       std::string *problem);
