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

#include "flashfromfile.h"
#include "flashreport.h"
#include "optiontable.h"

int main(int argc, char **argv)
{
    FlashSettings settings;
    std::string imagePath;
    bool verbose = false;

    OptionTable options("eflash.exe", "-i IP -m MAC IMAGE [--verbose] [--bootloader-wait-ms MS]",
                        "Flashes IMAGE through the Ethernet boot loader of the device at IP with MAC.\n"
                        "Blocks are resent after 1 s, at most 5 times; 15 minutes in all.");
    options.deviceAddress("-i", "IP", "the device's address", &settings.device).required()
        .mac("-m", "MAC", "the device's MAC address (\":\" or \"-\")", &settings.mac).required()
        .flag("--verbose", "say what happens on the way", &verbose)
        .milliseconds("--bootloader-wait-ms", "MS",
                      "how long to wait for the boot loader to answer the\n"
                      "magic packets, and again for its TFTP request\n(default 30000, 100..600000)",
                      &settings.bootLoaderWait, 100, 600000)
        .positional("IMAGE", "the image file", [&imagePath](const std::string &path) {
            imagePath = path;
            return std::string();
        });
    if (const auto exitCode = options.parseCommandLine(argc, argv)) {
        // The caller reads only standard output.
        if (*exitCode != 0)
            FlashReport(false).error("bad command line: " + options.problem());
        return *exitCode;
    }
    FlashReport report(verbose);
    return flashFromFile(std::move(settings), imagePath, report);
}
