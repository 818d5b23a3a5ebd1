#include "arpsweep.h"

#include "arppacket.h"

#include "ipv4address.h"
#include "linkroute.h"
#include "optiontable.h"

#include <arpa/inet.h>
#include <linux/capability.h>
#include <net/ethernet.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;

// At most a /16, as zudiruv-fleet scans.
constexpr std::size_t mostAddresses = 65536;
// Requests go out in rounds to the addresses that have not answered yet.
constexpr int rounds = 2;

// One link and the addresses to ask on it (host order), with who answered.
struct Link
{
    LinkRoute route;
    int socket = -1;
    std::vector<std::uint32_t> addresses;
    std::set<std::uint32_t> answered;
};

bool readRange(const std::string &text, std::vector<std::uint32_t> *addresses, std::string *error)
{
    const std::size_t dash = text.find('-');
    const std::optional<in_addr> first = parseIpv4Address(text.substr(0, dash));
    const std::optional<in_addr> last = dash == std::string::npos ? first : parseIpv4Address(text.substr(dash + 1));
    if (!first || !last || ntohl(last->s_addr) < ntohl(first->s_addr)) {
        *error = "not an address or range FIRST-LAST: " + text;
        return false;
    }
    const std::uint32_t from = ntohl(first->s_addr), to = ntohl(last->s_addr);
    if (to - from >= mostAddresses || addresses->size() + (to - from + 1) > mostAddresses) {
        *error = "more than 65536 addresses";
        return false;
    }
    for (std::uint64_t address = from; address <= to; ++address)
        addresses->push_back(std::uint32_t(address));
    return true;
}

bool openLink(Link &link, std::string *error, bool *notPermitted)
{
    link.socket = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETHERTYPE_ARP));
    if (link.socket < 0) {
        *notPermitted = errno == EPERM || errno == EACCES;
        *error = std::string("cannot open a packet socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETHERTYPE_ARP);
    local.sll_ifindex = link.route.interfaceIndex;
    if (bind(link.socket, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        *error = "cannot bind the packet socket to " + link.route.interfaceName + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// The packet sockets are open: nothing after this needs a privilege.
void dropCapabilities()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    syscall(SYS_capset, &header, none);
}

void sendRequest(const Link &link, std::uint32_t address)
{
    ArpPacket request{};
    request.hardwareType = htons(ARPHRD_ETHER);
    request.protocolType = htons(ETHERTYPE_IP);
    request.hardwareLength = 6;
    request.protocolLength = 4;
    request.operation = htons(ARPOP_REQUEST);
    std::memcpy(request.senderHardware, link.route.hardwareAddress.data(), 6);
    std::memcpy(request.senderProtocol, &link.route.source, 4);
    const std::uint32_t target = htonl(address);
    std::memcpy(request.targetProtocol, &target, 4);
    sockaddr_ll broadcast{};
    broadcast.sll_family = AF_PACKET;
    broadcast.sll_protocol = htons(ETHERTYPE_ARP);
    broadcast.sll_ifindex = link.route.interfaceIndex;
    broadcast.sll_halen = 6;
    std::memset(broadcast.sll_addr, 0xff, 6);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (sendto(link.socket, &request, sizeof request, 0, reinterpret_cast<sockaddr *>(&broadcast), sizeof broadcast)
                == ssize_t(sizeof request)
            || (errno != EAGAIN && errno != ENOBUFS))
            return;
        // The interface's queue is full: let it drain.
        pollfd entry{link.socket, POLLOUT, 0};
        poll(&entry, 1, 10);
    }
}

void takeReplies(std::vector<Link> &links, Clock::time_point until)
{
    std::vector<pollfd> entries;
    for (const Link &link : links)
        entries.push_back({link.socket, POLLIN, 0});
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0 || poll(entries.data(), entries.size(), int(left) + 1) <= 0)
            return;
        for (std::size_t i = 0; i < links.size(); ++i) {
            Link &link = links[i];
            ArpPacket reply{};
            while (recv(link.socket, &reply, sizeof reply, 0) == ssize_t(sizeof reply)) {
                std::uint32_t sender = 0;
                std::memcpy(&sender, reply.senderProtocol, 4);
                sender = ntohl(sender);
                if (ntohs(reply.operation) != ARPOP_REPLY || ntohs(reply.protocolType) != ETHERTYPE_IP
                    || reply.hardwareLength != 6 || reply.protocolLength != 4 || link.answered.count(sender)
                    || !std::binary_search(link.addresses.begin(), link.addresses.end(), sender))
                    continue;
                link.answered.insert(sender);
                MacAddress mac;
                std::memcpy(mac.data(), reply.senderHardware, 6);
                in_addr text{htonl(sender)};
                std::printf("Reply from %s for %s on %s\n", formatMacAddress(mac).c_str(), addressText(text).c_str(),
                            link.route.interfaceName.c_str());
            }
        }
    }
}

void printSwept(const Link &link)
{
    for (std::size_t start = 0; start < link.addresses.size();) {
        std::size_t end = start;
        while (end + 1 < link.addresses.size() && link.addresses[end + 1] == link.addresses[end] + 1)
            ++end;
        const in_addr first{htonl(link.addresses[start])}, last{htonl(link.addresses[end])};
        std::printf("Swept %s-%s on %s\n", addressText(first).c_str(), addressText(last).c_str(),
                    link.route.interfaceName.c_str());
        start = end + 1;
    }
}

} // namespace

int sweepMain(int argc, const char *const *argv)
{
    std::chrono::milliseconds wait{};
    bool sweep = false;
    std::vector<std::uint32_t> addresses;
    std::string rangeError;
    OptionTable options("arpping.exe", "--sweep -w WAIT_MS RANGE...",
                        "Asks every address of the ranges on a directly attached Ethernet link at once\n"
                        "and prints those that answered, then the runs of addresses it asked.");
    options.flag("--sweep", "sweep ranges instead of asking one address", &sweep)
        .milliseconds("-w", "WAIT_MS", "how long the answers are awaited, 1..60000", &wait, 1, 60000).required()
        .positional("RANGE", "an address, or FIRST-LAST",
                    [&](const std::string &text) {
                        return readRange(text, &addresses, &rangeError) ? std::string() : rangeError;
                    },
                    1, 1 << 16);
    if (const auto exitCode = options.parseCommandLine(argc, argv))
        return *exitCode;

    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    std::map<int, Link> byInterface;
    for (const std::uint32_t address : addresses) {
        const in_addr target{htonl(address)};
        std::string error;
        const std::optional<LinkRoute> route = isDeviceAddress(target) ? lookupRoute(target, &error) : std::nullopt;
        if (!route || route->viaGateway || route->isLocal || route->isLoopback || !route->isEthernet)
            continue;
        Link &link = byInterface[route->interfaceIndex];
        if (link.addresses.empty())
            link.route = *route;
        link.addresses.push_back(address);
    }
    std::vector<Link> links;
    for (auto &entry : byInterface)
        links.push_back(std::move(entry.second));
    for (Link &link : links) {
        std::string error;
        bool notPermitted = false;
        if (!openLink(link, &error, &notPermitted)) {
            std::fprintf(stderr, "arpping: %s\n", notPermitted ? "an ARP sweep needs root or the cap_net_raw capability"
                                                               : error.c_str());
            return 1;
        }
    }
    dropCapabilities();

    // Nothing on an Ethernet link: nothing to wait for.
    for (int round = 0; round < rounds && !links.empty(); ++round) {
        for (const Link &link : links) {
            for (const std::uint32_t address : link.addresses) {
                if (!link.answered.count(address))
                    sendRequest(link, address);
            }
        }
        takeReplies(links, Clock::now() + wait / rounds);
    }
    for (const Link &link : links)
        printSwept(link);
    for (const Link &link : links)
        close(link.socket);
    return 0;
}
