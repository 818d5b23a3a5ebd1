#include "linkroute.h"

#include "windowserror.h"

#include <iphlpapi.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// This host's IPv4 adapters, as one buffer that the list points into.
std::vector<unsigned char> adapterList()
{
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    for (int attempt = 0; attempt < 4; ++attempt) {
        buffer.assign(size, 0);
        const ULONG result = GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
        if (result == NO_ERROR)
            return buffer;
        if (result != ERROR_BUFFER_OVERFLOW)
            break;
    }
    return {};
}

const IP_ADAPTER_ADDRESSES *firstAdapter(const std::vector<unsigned char> &list)
{
    return list.empty() ? nullptr : reinterpret_cast<const IP_ADAPTER_ADDRESSES *>(list.data());
}

in_addr ipv4Of(const SOCKET_ADDRESS &address)
{
    return reinterpret_cast<const sockaddr_in *>(address.lpSockaddr)->sin_addr;
}

bool holdsAddress(const IP_ADAPTER_ADDRESSES &adapter, in_addr address)
{
    for (auto *unicast = adapter.FirstUnicastAddress; unicast; unicast = unicast->Next)
        if (unicast->Address.lpSockaddr->sa_family == AF_INET
            && ipv4Of(unicast->Address).s_addr == address.s_addr)
            return true;
    return false;
}

void describe(const IP_ADAPTER_ADDRESSES &adapter, LinkRoute &route)
{
    route.interfaceIndex = static_cast<int>(adapter.IfIndex);
    route.interfaceName = utf8(adapter.FriendlyName);
    if (route.interfaceName.empty())
        route.interfaceName = adapter.AdapterName;
    route.isLoopback = adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    route.isEthernet = (adapter.IfType == IF_TYPE_ETHERNET_CSMACD || adapter.IfType == IF_TYPE_IEEE80211)
        && adapter.PhysicalAddressLength == 6;
    // Point-to-point links and tunnels have no broadcast.
    route.canBroadcast = !route.isLoopback && adapter.IfType != IF_TYPE_PPP && adapter.IfType != IF_TYPE_TUNNEL;
    if (adapter.PhysicalAddressLength == 6)
        std::memcpy(route.hardwareAddress.data(), adapter.PhysicalAddress, 6);
    if (route.source.s_addr == 0)
        for (auto *unicast = adapter.FirstUnicastAddress; unicast; unicast = unicast->Next)
            if (unicast->Address.lpSockaddr->sa_family == AF_INET) {
                route.source = ipv4Of(unicast->Address);
                break;
            }
}

}

std::optional<LinkRoute> lookupRoute(in_addr destination, std::string *error)
{
    // One of our own addresses: Wine's routing table may lack the loopback
    // routes Windows always has.
    if (std::optional<LinkRoute> local = findLocalInterface(destination))
        return local;
    SOCKADDR_INET target{};
    target.Ipv4.sin_family = AF_INET;
    target.Ipv4.sin_addr = destination;
    MIB_IPFORWARD_ROW2 row{};
    SOCKADDR_INET source{};
    LinkRoute route;
    NET_IFINDEX interfaceIndex = 0;
    DWORD result = GetBestRoute2(nullptr, 0, nullptr, &target, 0, &row, &source);
    if (result == NO_ERROR) {
        interfaceIndex = row.InterfaceIndex;
        route.source = source.Ipv4.sin_addr;
        route.viaGateway = row.NextHop.si_family == AF_INET && row.NextHop.Ipv4.sin_addr.s_addr != 0;
        route.gateway = row.NextHop.Ipv4.sin_addr;
    } else if (result == ERROR_NOT_SUPPORTED) {
        // Wine has only the older call, which names no source address: the
        // interface's first address is taken then.
        MIB_IPFORWARDROW oldRow{};
        result = GetBestRoute(destination.s_addr, 0, &oldRow);
        interfaceIndex = oldRow.dwForwardIfIndex;
        route.viaGateway = oldRow.dwForwardType == MIB_IPROUTE_TYPE_INDIRECT;
        route.gateway.s_addr = oldRow.dwForwardNextHop;
    }
    if (result != NO_ERROR) {
        *error = windowsErrorText(result);
        return std::nullopt;
    }

    const std::vector<unsigned char> list = adapterList();
    const IP_ADAPTER_ADDRESSES *chosen = nullptr;
    for (auto *adapter = firstAdapter(list); adapter; adapter = adapter->Next)
        if (adapter->IfIndex == interfaceIndex)
            chosen = adapter;
    if (!chosen) {
        *error = "the routing table names no interface";
        return std::nullopt;
    }
    describe(*chosen, route);
    return route;
}

std::optional<LinkRoute> findLocalInterface(in_addr address)
{
    const std::vector<unsigned char> list = adapterList();
    for (auto *adapter = firstAdapter(list); adapter; adapter = adapter->Next) {
        if (!holdsAddress(*adapter, address))
            continue;
        LinkRoute route;
        route.isLocal = true;
        route.source = address;
        describe(*adapter, route);
        return route;
    }
    return std::nullopt;
}
