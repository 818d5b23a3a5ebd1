#include "arpsweep.h"

#include "arpsocket.h"
#include "portprobe.h"

#include "ipv4address.h"
#include "linkroute.h"
#include "optiontable.h"
#include "privileges.h"
#include "routelookup.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// At most a /16, as zudiruv-fleet scans.
constexpr std::size_t mostAddresses = 65536;
// Every address is asked in this many rounds, and in up to two more while
// the last one lost replies for want of buffer.
constexpr int rounds = 2;
constexpr int mostRounds = rounds + 2;
// What one ARP reply costs in a packet socket's receive buffer: about 830
// bytes on common drivers, so this leaves a margin.
constexpr int frameBytes = 1024;
// Requests leave in bursts, one burst per interval, and the replies are read
// between bursts, so that a burst's replies fit in the buffer however many
// hosts answer.
constexpr milliseconds burstInterval{2};
constexpr int fewestPerBurst = 8;
constexpr int mostPerBurst = 256;
// A host that answered ARP gets its SYN at once, again after these, and
// counts as silent on the port after portWait, as a connect would.
constexpr milliseconds synAgain[] = {milliseconds(300), milliseconds(800)};
constexpr milliseconds portWait{1500};

struct Host
{
    MacAddress mac{};
    int synsSent = 0;
    Clock::time_point firstSyn;
    bool decided = false;
};

// One link and the addresses to ask on it (host order), with who answered.
struct Link
{
    LinkRoute route;
    std::vector<std::uint32_t> addresses;
    std::unique_ptr<ArpSocket> arp;
    std::unique_ptr<PortProbe> port;
    std::map<std::uint32_t, Host> answered;
    // Hosts whose next SYN or verdict is due, by when.
    std::multimap<Clock::time_point, std::uint32_t> portDue;
    int perBurst = mostPerBurst;
    // This round's addresses still to ask.
    std::vector<std::uint32_t> toAsk;
    std::size_t asked = 0;
};

int portNumber = 0;

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

std::string text(std::uint32_t address)
{
    return addressText(in_addr{htonl(address)});
}

void printPort(const Link &link, std::uint32_t address, const char *state)
{
    std::printf("Port %d %s at %s on %s\n", portNumber, state, text(address).c_str(), link.route.interfaceName.c_str());
}

// Opens the link's sockets and sizes their buffers while the privileges
// last; says why when it cannot.
bool openLink(Link &link, std::string *error, bool *notPermitted)
{
    link.arp = std::make_unique<ArpSocket>(link.route);
    if (!link.arp->open(error, notPermitted))
        return false;
    if (portNumber) {
        link.port = std::make_unique<PortProbe>(link.route, std::uint16_t(portNumber));
        if (!link.port->open(error))
            return false;
    }
    // Enough for every address of the range to answer before one is read.
    const long wanted = long(link.addresses.size()) * frameBytes;
    const int asked = int(std::min<long>(wanted, 1L << 30));
    const int held = growReceiveBuffer(link.arp->handle(), asked);
    if (link.port)
        growReceiveBuffer(link.port->handle(), asked);
    if (held < wanted) {
        std::fprintf(stderr,
                     "arpping: the receive buffer on %s holds about %d replies, not the %zu this range may send at "
                     "once (net.core.rmem_max limits it without CAP_NET_ADMIN); the requests go out paced to fit\n",
                     link.route.interfaceName.c_str(), held / frameBytes, link.addresses.size());
    }
    link.perBurst = std::clamp(held / frameBytes / 4, fewestPerBurst, mostPerBurst);
    return true;
}

void sendSyn(Link &link, std::uint32_t address, Host &host, Clock::time_point now)
{
    link.port->sendSyn(in_addr{htonl(address)}, host.mac);
    if (host.synsSent == 0)
        host.firstSyn = now;
    const int sent = host.synsSent++;
    const milliseconds next = sent < int(std::size(synAgain)) ? synAgain[sent] : portWait;
    link.portDue.emplace(host.firstSyn + next, address);
}

void takeReplies(Link &link)
{
    while (const std::optional<ArpSocket::Reply> reply = link.arp->takeReply()) {
        const std::uint32_t sender = ntohl(reply->sender.s_addr);
        if (link.answered.count(sender) || !std::binary_search(link.addresses.begin(), link.addresses.end(), sender))
            continue;
        Host &host = link.answered[sender];
        host.mac = reply->mac;
        std::printf("Reply from %s for %s on %s\n", formatMacAddress(reply->mac).c_str(), text(sender).c_str(),
                    link.route.interfaceName.c_str());
        if (link.port)
            sendSyn(link, sender, host, Clock::now());
    }
    if (!link.port)
        return;
    while (const std::optional<PortProbe::Answer> answer = link.port->takeAnswer()) {
        const auto at = link.answered.find(ntohl(answer->host.s_addr));
        if (at == link.answered.end() || at->second.decided)
            continue;
        at->second.decided = true;
        printPort(link, at->first, answer->open ? "open" : "closed");
    }
}

// SYNs again to hosts that have not answered, and silence for those whose
// wait is over.
void sendDueSyns(Link &link, Clock::time_point now)
{
    while (!link.portDue.empty() && link.portDue.begin()->first <= now) {
        const std::uint32_t address = link.portDue.begin()->second;
        link.portDue.erase(link.portDue.begin());
        Host &host = link.answered[address];
        if (host.decided)
            continue;
        if (now - host.firstSyn >= portWait) {
            host.decided = true;
            printPort(link, address, "silent");
        } else {
            sendSyn(link, address, host, now);
        }
    }
}

// Reads and answers whatever arrives until `until`.
void serve(std::vector<Link> &links, Clock::time_point until)
{
    std::vector<pollfd> entries;
    for (const Link &link : links) {
        entries.push_back({link.arp->handle(), POLLIN, 0});
        if (link.port)
            entries.push_back({link.port->handle(), POLLIN, 0});
    }
    for (;;) {
        const auto now = Clock::now();
        for (Link &link : links)
            sendDueSyns(link, now);
        auto wake = until;
        for (const Link &link : links) {
            if (!link.portDue.empty())
                wake = std::min(wake, link.portDue.begin()->first);
        }
        if (now >= until)
            return;
        const auto pause = std::chrono::ceil<milliseconds>(wake - now).count();
        if (poll(entries.data(), entries.size(), int(std::max<long long>(pause, 0))) > 0) {
            for (Link &link : links)
                takeReplies(link);
        }
    }
}

bool portsPending(const std::vector<Link> &links)
{
    return std::any_of(links.begin(), links.end(), [](const Link &link) { return !link.portDue.empty(); });
}

// One round: every address that has not answered is asked once, a burst at
// a time, the replies read between bursts, then `wait` for late ones.
// Returns whether any reply was lost for want of buffer.
bool askRound(std::vector<Link> &links, milliseconds wait)
{
    for (Link &link : links) {
        link.toAsk.clear();
        link.asked = 0;
        for (const std::uint32_t address : link.addresses) {
            if (!link.answered.count(address))
                link.toAsk.push_back(address);
        }
    }
    for (bool more = true; more;) {
        more = false;
        for (Link &link : links) {
            for (int sent = 0; sent < link.perBurst && link.asked < link.toAsk.size(); ++sent) {
                // A full interface queue: the rest of the burst waits.
                if (!link.arp->sendRequest(in_addr{htonl(link.toAsk[link.asked])}))
                    break;
                ++link.asked;
            }
            more = more || link.asked < link.toAsk.size();
        }
        serve(links, Clock::now() + burstInterval);
    }
    serve(links, Clock::now() + wait);
    bool lost = false;
    for (Link &link : links) {
        if (takeDrops(link.arp->handle()) > 0 || (link.port && takeDrops(link.port->handle()) > 0)) {
            link.perBurst = std::max(fewestPerBurst, link.perBurst / 2);
            lost = true;
        }
    }
    return lost;
}

void printSwept(const Link &link)
{
    for (std::size_t start = 0; start < link.addresses.size();) {
        std::size_t end = start;
        while (end + 1 < link.addresses.size() && link.addresses[end + 1] == link.addresses[end] + 1)
            ++end;
        std::printf("Swept %s-%s on %s\n", text(link.addresses[start]).c_str(), text(link.addresses[end]).c_str(),
                    link.route.interfaceName.c_str());
        start = end + 1;
    }
}

} // namespace

int sweepMain(int argc, const char *const *argv)
{
    milliseconds wait{};
    bool sweep = false;
    std::vector<std::uint32_t> addresses;
    std::string rangeError;
    OptionTable options("arpping.exe", "--sweep -w WAIT_MS [--port PORT] RANGE...",
                        "Asks every address of the ranges on a directly attached Ethernet link and\n"
                        "prints those that answered, then the runs of addresses it asked.");
    options.flag("--sweep", "sweep ranges instead of asking one address", &sweep)
        .milliseconds("-w", "WAIT_MS", "how long the answers are awaited, 1..60000", &wait, 1, 60000).required()
        .number("--port", "PORT", "also ask each host that answered for a TCP connection on PORT", &portNumber, 1,
                65535)
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
    RouteLookup routes;
    for (const std::uint32_t address : addresses) {
        const in_addr target{htonl(address)};
        std::string error;
        const std::optional<LinkRoute> route = isDeviceAddress(target) ? routes.find(target, &error) : std::nullopt;
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
    // The sockets are open: nothing after this needs a privilege, and no
    // reply is read with one.
    std::string error;
    if (!dropPrivileges(&error)) {
        std::fprintf(stderr, "arpping: %s\n", error.c_str());
        return 1;
    }

    // Nothing on an Ethernet link: nothing to wait for.
    for (int round = 0; !links.empty() && round < mostRounds; ++round) {
        if (!askRound(links, wait / rounds) && round + 1 >= rounds)
            break;
    }
    while (portsPending(links))
        serve(links, Clock::now() + portWait);
    for (const Link &link : links)
        printSwept(link);
    return 0;
}
