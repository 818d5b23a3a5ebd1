// arpping.exe: finds the MAC address of an IPv4 address on the local link.
//
//   arpping.exe -n COUNT -w TIMEOUT_MS ADDRESS
//
// Sends COUNT probes, each waiting up to TIMEOUT_MS, and prints one line per
// probe on standard output:
//   Reply from 00:11:22:33:44:55 for 10.0.0.2 on eth0 in 0.4 ms
//   No response from 10.0.0.2 on eth0 within 3000 ms
// The MAC address is always the third field. A run that ends without an
// answer always prints a "No response" line, also for a bad command line or
// an address that names no one device (0.0.0.0, broadcast, multicast). Exit
// code 0 when any probe was answered, 1 when none was, 2 for a bad command
// line (the reason and the usage on standard error).
//
// The probe goes out on the interface the routing table uses to reach
// ADDRESS: raw ARP where a packet socket may be opened (root, CAP_NET_RAW),
// otherwise the kernel's neighbour table after a datagram that makes the
// kernel resolve the address. One of this host's own addresses answers with
// its interface's hardware address (00:00:00:00:00:00 on loopback).
// ARPPING_METHOD=neighbour selects the neighbour table even for root.

#include "arpprobe.h"
#include "linkroute.h"
#include "neighbourprobe.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds probeInterval{1000};

struct Arguments
{
    int count = 0;
    int waitMs = 0;
    in_addr address{};
};

void printUsage(std::FILE *stream)
{
    std::fprintf(stream, "usage: arpping.exe -n COUNT -w TIMEOUT_MS IPV4_ADDRESS\n"
                         "  COUNT 1..1000 probes, TIMEOUT_MS 1..600000 per probe\n");
}

// The unspecified, broadcast and multicast addresses name no one device.
bool isDeviceAddress(in_addr address)
{
    const std::uint32_t value = ntohl(address.s_addr);
    return value != INADDR_ANY && value != INADDR_BROADCAST && !IN_MULTICAST(value);
}

bool parseNumber(const char *text, int low, int high, int *value)
{
    char *end = nullptr;
    errno = 0;
    const long number = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < low || number > high)
        return false;
    *value = static_cast<int>(number);
    return true;
}

bool parseArguments(int argc, char **argv, Arguments *arguments, std::string *problem)
{
    bool haveCount = false, haveWait = false, haveAddress = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "-n" || option == "-w") {
            if (i + 1 >= argc) {
                *problem = option + " needs a value";
                return false;
            }
            const char *value = argv[++i];
            const bool isCount = option == "-n";
            if (!(isCount ? parseNumber(value, 1, 1000, &arguments->count)
                          : parseNumber(value, 1, 600000, &arguments->waitMs))) {
                *problem = "bad value for " + option + ": \"" + value + "\"";
                return false;
            }
            (isCount ? haveCount : haveWait) = true;
        } else if (!option.empty() && option[0] == '-') {
            *problem = "unknown option " + option;
            return false;
        } else if (haveAddress) {
            *problem = "more than one address";
            return false;
        } else {
            if (inet_pton(AF_INET, option.c_str(), &arguments->address) != 1) {
                *problem = "not an IPv4 address: \"" + option + "\"";
                return false;
            }
            if (!isDeviceAddress(arguments->address)) {
                *problem = "not a device address: " + option;
                return false;
            }
            haveAddress = true;
        }
    }
    if (!haveCount || !haveWait || !haveAddress) {
        *problem = "-n, -w and an address are all needed";
        return false;
    }
    return true;
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}

int main(int argc, char **argv)
{
    // The caller reads our output through a pipe, line by line, as it comes.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return 0;
        }
    }
    Arguments arguments;
    std::string problem;
    if (!parseArguments(argc, argv, &arguments, &problem)) {
        std::fprintf(stderr, "arpping: %s\n", problem.c_str());
        printUsage(stderr);
        // The caller reads only standard output, and must hear that no
        // answer comes. The command line's text is not echoed there: it
        // could hold a line of its own.
        std::printf("No response (bad command line: see standard error)\n");
        return 2;
    }
    const std::string target = addressText(arguments.address);

    std::string error;
    std::optional<LinkRoute> route = lookupRoute(arguments.address, &error);
    if (!route) {
        std::fprintf(stderr, "arpping: no route to %s: %s\n", target.c_str(), error.c_str());
        std::printf("No response from %s (no route)\n", target.c_str());
        return 1;
    }

    if (route->isLocal) {
        // The kernel routes every local address through lo; the hardware
        // address wanted is that of the interface that holds the address.
        if (auto holder = findLocalInterface(arguments.address))
            route = holder;
        for (int probe = 0; probe < arguments.count; ++probe)
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
    NeighbourProbe neighbourProbe(*route);

    bool anyAnswer = false;
    const std::chrono::milliseconds wait{arguments.waitMs};
    for (int probe = 0; probe < arguments.count; ++probe) {
        const auto start = Clock::now();
        const std::optional<MacAddress> mac = useRawArp ? arpProbe.resolve(arguments.address, wait)
                                                        : neighbourProbe.resolve(arguments.address, wait);
        if (mac) {
            anyAnswer = true;
            std::printf("Reply from %s for %s on %s in %.1f ms\n", formatMacAddress(*mac).c_str(),
                        target.c_str(), route->interfaceName.c_str(), millisecondsSince(start));
        } else {
            std::printf("No response from %s on %s within %d ms\n", target.c_str(),
                        route->interfaceName.c_str(), arguments.waitMs);
        }
        if (probe + 1 < arguments.count)
            std::this_thread::sleep_until(start + probeInterval);
    }
    return anyAnswer ? 0 : 1;
}
