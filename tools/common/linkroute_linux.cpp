#include "linkroute.h"
#include "routelookup.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Fills name, flags, IPv4 address (when the route gave none) and hardware
// address of interface `route.interfaceIndex`.
bool describeInterface(LinkRoute &route)
{
    char name[IF_NAMESIZE] = {};
    if (!if_indextoname(static_cast<unsigned>(route.interfaceIndex), name))
        return false;
    route.interfaceName = name;

    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    for (ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || route.interfaceName != entry->ifa_name)
            continue;
        route.isLoopback = entry->ifa_flags & IFF_LOOPBACK;
        route.canBroadcast = (entry->ifa_flags & IFF_BROADCAST) && !route.isLoopback;
        if (entry->ifa_addr->sa_family == AF_PACKET) {
            const auto *link = reinterpret_cast<const sockaddr_ll *>(entry->ifa_addr);
            route.isEthernet = link->sll_hatype == ARPHRD_ETHER && link->sll_halen == 6;
            if (link->sll_halen == 6)
                std::memcpy(route.hardwareAddress.data(), link->sll_addr, 6);
        } else if (entry->ifa_addr->sa_family == AF_INET && route.source.s_addr == 0) {
            route.source = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr;
        }
    }
    freeifaddrs(list);
    return true;
}

// Asks the routing table through `fd` for the route to `destination`: its
// interface index, source, gateway and whether it is local.
std::optional<LinkRoute> askRoute(int fd, in_addr destination, std::string *error)
{
    struct {
        nlmsghdr header;
        rtmsg message;
        char attributes[32];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.message.rtm_family = AF_INET;
    request.message.rtm_dst_len = 32;
    auto *attribute = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(&request)
                                                 + NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = RTA_DST;
    attribute->rta_len = RTA_LENGTH(sizeof destination);
    std::memcpy(RTA_DATA(attribute), &destination, sizeof destination);
    request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    char buffer[8192];
    ssize_t length = -1;
    if (sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel),
               sizeof kernel)
        >= 0)
        length = recv(fd, buffer, sizeof buffer, 0);
    if (length < 0) {
        *error = std::string("routing table query failed: ") + std::strerror(errno);
        return std::nullopt;
    }

    LinkRoute route;
    int remaining = static_cast<int>(length);
    for (auto *header = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(header, remaining);
         header = NLMSG_NEXT(header, remaining)) {
        if (header->nlmsg_type == NLMSG_ERROR) {
            const auto *failure = static_cast<const nlmsgerr *>(NLMSG_DATA(header));
            *error = std::strerror(-failure->error);
            return std::nullopt;
        }
        if (header->nlmsg_type != RTM_NEWROUTE)
            continue;
        auto *message = static_cast<rtmsg *>(NLMSG_DATA(header));
        if (message->rtm_type != RTN_UNICAST && message->rtm_type != RTN_LOCAL) {
            *error = "no usable route";
            return std::nullopt;
        }
        route.isLocal = message->rtm_type == RTN_LOCAL;
        int attributesLength = static_cast<int>(RTM_PAYLOAD(header));
        for (rtattr *item = RTM_RTA(message); RTA_OK(item, attributesLength);
             item = RTA_NEXT(item, attributesLength)) {
            if (item->rta_type == RTA_OIF)
                std::memcpy(&route.interfaceIndex, RTA_DATA(item), sizeof(int));
            else if (item->rta_type == RTA_PREFSRC)
                std::memcpy(&route.source, RTA_DATA(item), sizeof route.source);
            else if (item->rta_type == RTA_GATEWAY) {
                route.viaGateway = true;
                std::memcpy(&route.gateway, RTA_DATA(item), sizeof route.gateway);
            }
        }
    }
    if (route.interfaceIndex <= 0) {
        *error = "the routing table names no interface";
        return std::nullopt;
    }
    return route;
}

int openRoutingSocket(std::string *error)
{
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        *error = std::string("cannot open routing socket: ") + std::strerror(errno);
        return -1;
    }
    timeval receiveLimit{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receiveLimit, sizeof receiveLimit);
    return fd;
}

}

std::optional<LinkRoute> lookupRoute(in_addr destination, std::string *error)
{
    const int fd = openRoutingSocket(error);
    if (fd < 0)
        return std::nullopt;
    std::optional<LinkRoute> route = askRoute(fd, destination, error);
    close(fd);
    if (route && !describeInterface(*route)) {
        *error = "the routing table names no interface";
        return std::nullopt;
    }
    return route;
}

RouteLookup::~RouteLookup()
{
    if (m_socket >= 0)
        close(m_socket);
}

std::optional<LinkRoute> RouteLookup::find(in_addr destination, std::string *error)
{
    if (m_socket < 0 && (m_socket = openRoutingSocket(error)) < 0)
        return std::nullopt;
    std::optional<LinkRoute> route = askRoute(m_socket, destination, error);
    if (!route)
        return std::nullopt;
    auto known = m_interfaces.find(route->interfaceIndex);
    if (known == m_interfaces.end()) {
        LinkRoute described = *route;
        if (!describeInterface(described)) {
            *error = "the routing table names no interface";
            return std::nullopt;
        }
        known = m_interfaces.emplace(route->interfaceIndex, described).first;
    }
    const LinkRoute &interface = known->second;
    route->interfaceName = interface.interfaceName;
    route->isLoopback = interface.isLoopback;
    route->canBroadcast = interface.canBroadcast;
    route->isEthernet = interface.isEthernet;
    route->hardwareAddress = interface.hardwareAddress;
    if (route->source.s_addr == 0)
        route->source = interface.source;
    return route;
}

std::optional<LinkRoute> findLocalInterface(in_addr address)
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<LinkRoute> found;
    for (ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if (reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr.s_addr != address.s_addr)
            continue;
        LinkRoute route;
        route.interfaceIndex = static_cast<int>(if_nametoindex(entry->ifa_name));
        route.source = address;
        if (route.interfaceIndex > 0 && describeInterface(route))
            found = route;
        break;
    }
    freeifaddrs(list);
    return found;
}
