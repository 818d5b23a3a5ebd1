// eflash.exe: updates a device's firmware through its Ethernet boot loader.
//
//   eflash.exe -i IP -m MAC IMAGE [--verbose] [--bootloader-wait-ms MS]
//
// MAC takes ":" or "-" between its groups. Magic packets (UDP port 9) ask the
// running firmware to start its boot loader; the boot loader's BOOTP request
// (port 67) gets IP and the image name; its TFTP read request (port 69) gets
// IMAGE. Everything goes through the interface the routing table uses to
// reach IP. Needs root or the cap_net_bind_service capability for ports 67
// and 69, and refuses to share them with another program.
//
// Output, one line at a time on standard output: "% Complete: N%" as the
// image goes out (N rising to 100), "ERROR: reason" on failure, and with
// --verbose what happens on the way.
//
// Limits: 30 s (or --bootloader-wait-ms) for the boot loader's first BOOTP
// request and as long again from there to its TFTP read request, each block
// retransmitted after 1 s up to 5 times, 15 minutes for the whole update.
//
// Exit code: 0 updated, 1 failed, 2 bad command line.

#include "ethernetflasher.h"
#include "flashreport.h"
#include "imagefile.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The unspecified, broadcast and multicast addresses name no one device.
bool isDeviceAddress(in_addr address)
{
    const std::uint32_t value = ntohl(address.s_addr);
    return value != INADDR_ANY && value != INADDR_BROADCAST && !IN_MULTICAST(value);
}

void printUsage(std::FILE *stream)
{
    std::fprintf(stream,
                 "usage: eflash.exe -i IP -m MAC IMAGE [--verbose] [--bootloader-wait-ms MS]\n"
                 "  Flashes IMAGE through the Ethernet boot loader of the device at IP with MAC.\n"
                 "  --bootloader-wait-ms  how long to wait for the boot loader to answer the\n"
                 "                        magic packets, and again for its TFTP request\n"
                 "                        (default 30000, 100..600000)\n"
                 "  Blocks are resent after 1 s, at most 5 times; 15 minutes in all.\n");
}

struct Arguments
{
    FlashSettings settings;
    std::string imagePath;
    bool verbose = false;
};

bool parseArguments(int argc, char **argv, Arguments *arguments, std::string *problem)
{
    bool haveIp = false, haveMac = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool takesValue = option == "-i" || option == "-m" || option == "--bootloader-wait-ms";
        if (takesValue && i + 1 >= argc) {
            *problem = option + " needs a value";
            return false;
        }
        if (option == "-i") {
            const char *value = argv[++i];
            if (inet_pton(AF_INET, value, &arguments->settings.device) != 1) {
                *problem = std::string("not an IPv4 address: \"") + value + "\"";
                return false;
            }
            if (!isDeviceAddress(arguments->settings.device)) {
                *problem = std::string("not a device address: ") + value;
                return false;
            }
            haveIp = true;
        } else if (option == "-m") {
            const char *value = argv[++i];
            const auto mac = parseMacAddress(value);
            if (!mac) {
                *problem = std::string("not a MAC address: \"") + value + "\"";
                return false;
            }
            arguments->settings.mac = *mac;
            haveMac = true;
        } else if (option == "--bootloader-wait-ms") {
            char *end = nullptr;
            const long value = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || value < 100 || value > 600000) {
                *problem = "bad value for --bootloader-wait-ms";
                return false;
            }
            arguments->settings.bootLoaderWait = std::chrono::milliseconds(value);
        } else if (option == "--verbose") {
            arguments->verbose = true;
        } else if (option.size() > 1 && option[0] == '-') {
            *problem = "unknown option " + option;
            return false;
        } else if (!arguments->imagePath.empty()) {
            *problem = "more than one image";
            return false;
        } else {
            arguments->imagePath = option;
        }
    }
    if (!haveIp || !haveMac || arguments->imagePath.empty()) {
        *problem = "-i, -m and an image are all needed";
        return false;
    }
    return true;
}

}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return 0;
        }
    }

    Arguments arguments;
    std::string problem;
    if (!parseArguments(argc, argv, &arguments, &problem)) {
        std::fprintf(stderr, "eflash: %s\n", problem.c_str());
        printUsage(stderr);
        // The caller reads only standard output.
        FlashReport(false).error("bad command line: " + problem);
        return 2;
    }
    FlashReport report(arguments.verbose);

    std::string error;
    auto image = readImageFile(arguments.imagePath, EthernetFlasher::maximumImageSize, &error);
    if (!image) {
        report.error("cannot read the image " + arguments.imagePath + ": " + error);
        return 1;
    }
    arguments.settings.image = std::move(*image);
    const std::size_t slash = arguments.imagePath.find_last_of('/');
    arguments.settings.bootFile = slash == std::string::npos ? arguments.imagePath
                                                             : arguments.imagePath.substr(slash + 1);

    EthernetFlasher flasher(std::move(arguments.settings), report);
    return flasher.run() ? 0 : 1;
}
