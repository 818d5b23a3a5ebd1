// bootloader-sim: a device's Ethernet boot loader for testing eflash.exe.
// Prints a key=value summary when the session ends; exit code 0 when the
// image arrived, 3 when the session was cut short on purpose
// (--error-at-block, --silent-after-block), 1 on failure, 2 for a bad
// command line.

#include "bootloadersim.h"
#include "optiontable.h"
#include "sessionsummary.h"

#include <cstdio>

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    BootLoaderSim::Settings settings;
    std::string outputFile;
    in_addr tftpServer{};
    int errorCode = settings.errorCode;
    constexpr long long day = 86400000;

    OptionTable options("bootloader-sim", "--mac MAC --address IP [options]",
                        "Waits for the magic packet for MAC on UDP port 9, asks for an address by BOOTP\n"
                        "and fetches the image by TFTP, as a device's Ethernet boot loader does.");
    options.mac("--mac", "MAC", "the device's MAC address (\":\" or \"-\")", &settings.mac).required()
        .address("--address", "IP", "the device's address, one of this host's", &settings.address).required()
        .text("--output", "FILE", "write the received image to FILE", &outputFile)
        .text("--interface", "NAME", "interface to use (default: the one holding IP)", &settings.interfaceName)
        .address("--server", "IP", "send BOOTP requests there (default: broadcast,\n127.0.0.1 on loopback)",
                 &settings.bootServer)
        .text("--sname", "TEXT", "server name in the BOOTP request (stellaris)", &settings.serverName)
        .flag("--broadcast-flag", "ask for a broadcast BOOTP reply", &settings.broadcastFlag)
        .flag("--arp-once-addressed", "answer no ARP until BOOTP gave the address (sets the\n"
              "interface's arp_ignore meanwhile; needs root)", &settings.arpOnceAddressed)
        .milliseconds("--magic-wait-ms", "MS", "how long to wait for the magic packet (60000)", &settings.magicWait, 0, day)
        .number("--boot-attempts", "N", "BOOTP requests before giving up (10), 1 s apart", &settings.bootAttempts, 1, 1000)
        .milliseconds("--tftp-timeout-ms", "MS", "TFTP retransmission interval (1000), 5 retries", &settings.tftpTimeout,
                      1, day)
        .milliseconds("--block-write-ms", "MS", "time to write each block to flash before its ACK (0)",
                      &settings.blockWrite, 0, 60000)
        .number("--slower-from-block", "N", "from block N on ...", &settings.slowerFromBlock, 0, 65535)
        .milliseconds("--later-block-write-ms", "MS", "... take MS to write each block instead",
                      &settings.laterBlockWrite, 0, 60000)
        .number("--ignore-magic", "N", "ignore the first N magic packets", &settings.ignoreMagicPackets, 0, 1000)
        .number("--ignore-bootp-replies", "N", "ignore the first N BOOTP replies", &settings.ignoreBootReplies, 0, 1000)
        .milliseconds("--boot-delay-ms", "MS", "pause between magic packet and BOOTP (0)", &settings.bootDelay, 0, day)
        .number("--drop-every", "N", "lose the first copy of every Nth data block", &settings.dropDataEvery, 0, 65535)
        .flag("--duplicate-acks", "send every ACK twice", &settings.duplicateAcks)
        .number("--slow-ack-every", "N", "hold back the ACK of every Nth block ...", &settings.slowAckEvery, 0, 65535)
        .milliseconds("--slow-ack-ms", "MS", "... by MS milliseconds", &settings.slowAckDelay, 0, day)
        .number("--error-at-block", "N", "answer block N with a TFTP error", &settings.errorAtBlock, 0, 65535)
        .number("--error-code", "C", "... of code C (3)", &errorCode, 0, 65535)
        .text("--error-message", "TEXT", "... and text TEXT (Disk full)", &settings.errorMessage)
        .number("--silent-after-block", "N", "stop answering once block N has arrived", &settings.silentAfterBlock, 0, 65535)
        .address("--tftp-only", "SERVER", "skip magic packet and BOOTP; read --file from SERVER", &tftpServer)
        .text("--file", "NAME", "file to read with --tftp-only", &settings.tftpFile);
    LinkImpairment::addOptions(options, "--", &settings.link);
    if (const auto exitCode = options.parseCommandLine(argc, argv))
        return *exitCode;
    settings.errorCode = static_cast<std::uint16_t>(errorCode);
    if (options.wasGiven("--tftp-only")) {
        if (settings.tftpFile.empty()) {
            std::fprintf(stderr, "bootloader-sim: --tftp-only needs --file\n");
            return 2;
        }
        settings.tftpOnly = true;
        settings.tftpServer = tftpServer;
    }

    BootLoaderSim simulator(settings);
    const BootLoaderSim::Result result = simulator.run();
    if (!outputFile.empty() && !writeImage(outputFile, result.image))
        std::fprintf(stderr, "bootloader-sim: cannot write %s\n", outputFile.c_str());
    printSummary(result);
    return exitCodeOf(result.outcome);
}
