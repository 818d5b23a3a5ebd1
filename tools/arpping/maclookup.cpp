#include "maclookup.h"

#include "arpprobe.h"
#include "linkroute.h"
#include "neighbourprobe.h"
#include "privileges.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds probeInterval{1000};

// Once the raw socket is open, before any packet or file is read.
bool givePrivilegesUp(const std::string &target)
{
    std::string error;
    if (dropPrivileges(&error))
        return true;
    std::fprintf(stderr, "arpping: %s\n", error.c_str());
    std::printf("No response from %s (cannot drop privileges)\n", target.c_str());
    return false;
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}

int lookUpMac(in_addr address, int count, std::chrono::milliseconds wait)
{
    const std::string target = addressText(address);

    std::string error;
    std::optional<LinkRoute> route = lookupRoute(address, &error);
    if (!route) {
        std::fprintf(stderr, "arpping: no route to %s: %s\n", target.c_str(), error.c_str());
        std::printf("No response from %s (no route)\n", target.c_str());
        return 1;
    }

    if (route->isLocal) {
        if (!givePrivilegesUp(target))
            return 1;
        // The kernel routes every local address through lo; the hardware
        // address wanted is that of the interface that holds the address.
        if (auto holder = findLocalInterface(address))
            route = holder;
        for (int probe = 0; probe < count; ++probe)
            std::printf("Reply from %s for %s on %s in 0.0 ms (local address)\n",
                        formatMacAddress(route->isLoopback ? MacAddress{} : route->hardwareAddress).c_str(),
                        target.c_str(), route->interfaceName.c_str());
        return 0;
    }

    ArpProbe arpProbe(*route);
    bool useRawArp = route->isEthernet;
    if (const char *method = std::getenv("ARPPING_METHOD"); method && std::strcmp(method, "neighbour") == 0)
        useRawArp = false;
    if (useRawArp) {
        bool notPermitted = false;
        if (!arpProbe.open(&error, &notPermitted)) {
            if (notPermitted)
                error = "cannot open a raw ARP socket: needs root or the cap_net_raw capability";
            std::fprintf(stderr, "arpping: %s; using the kernel's neighbour table instead\n", error.c_str());
            useRawArp = false;
        }
    }
    if (!givePrivilegesUp(target))
        return 1;
    NeighbourProbe neighbourProbe(*route);

    bool anyAnswer = false;
    for (int probe = 0; probe < count; ++probe) {
        const auto start = Clock::now();
        std::optional<MacAddress> mac = useRawArp ? arpProbe.resolve(address, wait) : std::nullopt;
        if (useRawArp && !arpProbe.unusable().empty()) {
            std::fprintf(stderr, "arpping: %s; using the neighbour table instead\n", arpProbe.unusable().c_str());
            useRawArp = false;
        }
        if (!useRawArp)
            mac = neighbourProbe.resolve(address, wait - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                             Clock::now() - start));
        if (mac) {
            anyAnswer = true;
            std::printf("Reply from %s for %s on %s in %.1f ms\n", formatMacAddress(*mac).c_str(),
                        target.c_str(), route->interfaceName.c_str(), millisecondsSince(start));
        } else {
            std::printf("No response from %s on %s within %d ms\n", target.c_str(),
                        route->interfaceName.c_str(), int(wait.count()));
        }
        if (probe + 1 < count)
            std::this_thread::sleep_until(start + probeInterval);
    }
    return anyAnswer ? 0 : 1;
}
