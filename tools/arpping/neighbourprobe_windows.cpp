#include "neighbourprobe.h"

#include <iphlpapi.h>
#include <windows.h>

#include <cstring>

namespace {
// Discard service: an empty datagram there does nothing on the device.
constexpr std::uint16_t promptPort = 9;
}

void NeighbourProbe::prompt(in_addr target) const
{
    const SocketHandle socket = openSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (socket == noSocket)
        return;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(promptPort);
    destination.sin_addr = target;
    sendto(socket, "", 0, 0, reinterpret_cast<sockaddr *>(&destination), sizeof destination);
    closeSocket(socket);
}

std::optional<MacAddress> NeighbourProbe::lookUp(in_addr target) const
{
    MIB_IPNET_TABLE2 *table = nullptr;
    if (GetIpNetTable2(AF_INET, &table) != NO_ERROR)
        return std::nullopt;
    std::optional<MacAddress> found;
    for (ULONG i = 0; i < table->NumEntries && !found; ++i) {
        const MIB_IPNET_ROW2 &row = table->Table[i];
        if (row.Address.Ipv4.sin_addr.s_addr != target.s_addr
            || row.InterfaceIndex != static_cast<NET_IFINDEX>(m_route.interfaceIndex)
            || row.PhysicalAddressLength != 6 || row.State == NlnsUnreachable || row.State == NlnsIncomplete)
            continue;
        MacAddress mac;
        std::memcpy(mac.data(), row.PhysicalAddress, 6);
        // Windows lists addresses it is still resolving with a zero MAC.
        if (mac != MacAddress{})
            found = mac;
    }
    FreeMibTable(table);
    return found;
}
