// eflash.exe: updates a device's firmware through its Ethernet boot loader.
//
//   eflash.exe -i IP -m MAC IMAGE [-i IP -m MAC IMAGE ...] [--verbose]
//              [--bootloader-wait-ms MS]
//
// MAC takes ":" or "-" between its groups. Magic packets (UDP port 9) ask the
// running firmware to start its boot loader; the boot loader's BOOTP request
// (port 67) gets IP and the image name; its TFTP read request (port 69) gets
// IMAGE. Everything goes through the interface the routing table uses to
// reach IP. Needs root or the cap_net_bind_service capability for ports 67
// and 69 (on Windows, no other program holding them), and refuses to share
// them with another program.
//
// Output, one line at a time on standard output: "% Complete: N%" as the
// image goes out (N rising to 100), "ERROR: reason" on failure, and with
// --verbose what happens on the way.
//
// Limits: 30 s (or --bootloader-wait-ms) for the boot loader's first BOOTP
// request and as long again from there to its TFTP read request; each block
// retransmitted after a timeout that follows the round trip, doubling up to
// 1 s and kept doubled until a block sent once is acknowledged, until 5
// resends in a row at 1 s went unanswered; 15 minutes for the
// whole update from the start of the run. "ERROR: unconfirmed: ..." when
// only the last block's acknowledgement never came.
//
// Every capability is given up once the ports are open, before a packet or
// the image is read.
//
// Several devices on one link are flashed at once with -i, -m and IMAGE
// given once per device, paired in order; then every output line starts
// with the device's address ("198.18.0.2: % Complete: 40%").
//
// Exit code: 0 updated (every device), 1 failed (any device), 2 bad command
// line.

#include "flashfromfile.h"
#include "flashreport.h"
#include "optiontable.h"
#include "programstart.h"

#include <cstdio>

int main(int argc, char **argv)
{
    const ProgramStart start(argc, argv);
    std::vector<in_addr> devices;
    std::vector<MacAddress> macs;
    std::vector<std::string> images;
    std::chrono::milliseconds bootLoaderWait{30000};
    bool verbose = false;

    OptionTable options("eflash.exe",
                        "-i IP -m MAC IMAGE [-i IP -m MAC IMAGE ...] [--verbose] [--bootloader-wait-ms MS]",
                        "Flashes IMAGE through the Ethernet boot loader of the device at IP with MAC;\n"
                        "several devices on one link at once. A block is resent after a timeout that\n"
                        "follows the round trip (at least 20 ms, doubling up to 1 s, and kept doubled\n"
                        "until a block sent once is acknowledged) until 5 resends in a row at 1 s go\n"
                        "unanswered; 15 minutes in all, counted from the start\n"
                        "of the run, boot-loader wait included. A missing acknowledgement of the\n"
                        "last block alone ends with \"ERROR: unconfirmed: ...\": the device may hold\n"
                        "the whole image.");
    options.option("-i", "IP", "the device's address",
                   OptionTable::collecting(&devices, OptionTable::deviceAddressReader))
        .required()
        .option("-m", "MAC", "the device's MAC address (\":\" or \"-\")",
                OptionTable::collecting(&macs, OptionTable::macReader))
        .required()
        .flag("--verbose", "say what happens on the way", &verbose)
        .milliseconds("--bootloader-wait-ms", "MS",
                      "how long to wait for the boot loader to answer the\n"
                      "magic packets, and again for its TFTP request\n(default 30000, 100..600000)",
                      &bootLoaderWait, 100, 600000)
        .positional("IMAGE", "the image file", [&images](const std::string &path) {
            images.push_back(path);
            return std::string();
        }, 1, 4096);
    auto exitCode = options.parseCommandLine(start.count(), start.arguments());
    std::string problem = options.problem();
    if (!exitCode && (devices.size() != macs.size() || devices.size() != images.size())) {
        problem = "give -i, -m and IMAGE once for each device";
        std::fprintf(stderr, "eflash.exe: %s\n", problem.c_str());
        exitCode = 2;
    }
    if (exitCode) {
        // The caller reads only standard output.
        if (*exitCode != 0)
            FlashReport(false).error("bad command line: " + problem);
        return *exitCode;
    }
    std::vector<FlashRequest> requests;
    for (std::size_t i = 0; i < devices.size(); ++i)
        requests.push_back({devices[i], macs[i], images[i]});
    return flashFromFiles(requests, bootLoaderWait, verbose);
}
