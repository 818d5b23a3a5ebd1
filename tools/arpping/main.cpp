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
// ADDRESS: raw ARP where a packet socket may be opened (root, CAP_NET_RAW;
// SendARP on Windows), otherwise the kernel's neighbour table after a
// datagram that makes the kernel resolve the address. One of this host's own addresses answers with
// its interface's hardware address (00:00:00:00:00:00 on loopback).
// ARPPING_METHOD=neighbour selects the neighbour table even for root.

#include "arpsweep.h"
#include "maclookup.h"
#include "optiontable.h"
#include "programstart.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    // The caller reads our output through a pipe, line by line, as it comes.
    const ProgramStart start(argc, argv);
    if (start.count() > 1 && std::strcmp(start.arguments()[1], "--sweep") == 0)
        return sweepMain(start.count(), start.arguments());
    int count = 0;
    std::chrono::milliseconds wait{};
    in_addr address{};

    OptionTable options("arpping.exe", "-n COUNT -w TIMEOUT_MS IPV4_ADDRESS",
                        "Finds the MAC address of IPV4_ADDRESS on the local link.\n"
                        "arpping.exe --sweep -w WAIT_MS RANGE... asks whole ranges at once\n"
                        "instead (arpping.exe --sweep --help).");
    options.number("-n", "COUNT", "probes, 1..1000, one a second", &count, 1, 1000).required()
        .milliseconds("-w", "TIMEOUT_MS", "how long each probe waits, 1..600000", &wait, 1, 600000).required()
        .positional("IPV4_ADDRESS", "the device's address", OptionTable::deviceAddressReader(&address));
    if (const auto exitCode = options.parseCommandLine(start.count(), start.arguments())) {
        // The caller reads only standard output, and must hear that no
        // answer comes. The command line's text is not echoed there: it
        // could hold a line of its own.
        if (*exitCode != 0)
            std::printf("No response (bad command line: see standard error)\n");
        return *exitCode;
    }
    return lookUpMac(address, count, wait);
}
