// bootloader-sim: a device's Ethernet boot loader for testing eflash.exe.
// Run with --help for the options. Prints a key=value summary when the
// session ends; exit code 0 when the image arrived, 3 when the session was
// cut short on purpose (--error-at-block, --silent-after-block), 1 on
// failure, 2 for a bad command line.

#include "bootloadersim.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

namespace {

const char *const usage =
    "usage: bootloader-sim --mac MAC --address IP [options]\n"
    "Waits for the magic packet for MAC on UDP port 9, asks for an address by BOOTP\n"
    "and fetches the image by TFTP, as a device's Ethernet boot loader does.\n"
    "  --mac MAC                 the device's MAC address (\":\" or \"-\")\n"
    "  --address IP              the device's address, one of this host's\n"
    "  --output FILE             write the received image to FILE\n"
    "  --interface NAME          interface to use (default: the one holding IP)\n"
    "  --server IP               send BOOTP requests there (default: broadcast,\n"
    "                            127.0.0.1 on loopback)\n"
    "  --sname TEXT              server name in the BOOTP request (stellaris)\n"
    "  --broadcast-flag          ask for a broadcast BOOTP reply\n"
    "  --magic-wait-ms MS        how long to wait for the magic packet (60000)\n"
    "  --boot-attempts N         BOOTP requests before giving up (10), 1 s apart\n"
    "  --tftp-timeout-ms MS      TFTP retransmission interval (1000), 5 retries\n"
    "  --ignore-magic N          ignore the first N magic packets\n"
    "  --ignore-bootp-replies N  ignore the first N BOOTP replies\n"
    "  --boot-delay-ms MS        pause between magic packet and BOOTP (0)\n"
    "  --drop-every N            lose the first copy of every Nth data block\n"
    "  --duplicate-acks          send every ACK twice\n"
    "  --slow-ack-every N        hold back the ACK of every Nth block ...\n"
    "  --slow-ack-ms MS          ... by MS milliseconds\n"
    "  --error-at-block N        answer block N with a TFTP error\n"
    "  --error-code C            ... of code C (3)\n"
    "  --error-message TEXT      ... and text TEXT (Disk full)\n"
    "  --silent-after-block N    stop answering once block N has arrived\n"
    "  --tftp-only SERVER        skip magic packet and BOOTP; read --file from SERVER\n"
    "  --file NAME               file to read with --tftp-only\n";

bool parseMac(const std::string &text, std::array<std::uint8_t, 6> *mac)
{
    unsigned value[6];
    char separator[5];
    if (std::sscanf(text.c_str(), "%2x%c%2x%c%2x%c%2x%c%2x%c%2x", &value[0], &separator[0], &value[1],
                    &separator[1], &value[2], &separator[2], &value[3], &separator[3], &value[4],
                    &separator[4], &value[5])
            != 11
        || text.size() != 17)
        return false;
    for (int i = 0; i < 6; ++i)
        (*mac)[i] = static_cast<std::uint8_t>(value[i]);
    return true;
}

[[noreturn]] void badCommandLine(const std::string &problem)
{
    std::fprintf(stderr, "bootloader-sim: %s\n%s", problem.c_str(), usage);
    std::exit(2);
}

}

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::map<std::string, std::string> options;
    const std::string flags[] = {"--broadcast-flag", "--duplicate-acks"};
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::find(std::begin(flags), std::end(flags), option) != std::end(flags)) {
            options[option] = "1";
        } else if (option.rfind("--", 0) == 0 && i + 1 < argc && std::strstr(usage, (option + " ").c_str())) {
            options[option] = argv[++i];
        } else {
            badCommandLine("unknown option or missing value: " + option);
        }
    }

    const auto number = [&](const std::string &name, long fallback) {
        const auto found = options.find(name);
        if (found == options.end())
            return fallback;
        char *end = nullptr;
        const long value = std::strtol(found->second.c_str(), &end, 10);
        if (*end != '\0' || value < 0 || value > 86400000)
            badCommandLine("bad number for " + name);
        return value;
    };
    const auto address = [&](const std::string &name) {
        in_addr value{};
        const auto found = options.find(name);
        if (found != options.end() && inet_pton(AF_INET, found->second.c_str(), &value) != 1)
            badCommandLine("bad address for " + name);
        return value;
    };

    BootLoaderSim::Settings settings;
    if (!options.count("--mac") || !parseMac(options["--mac"], &settings.mac))
        badCommandLine("--mac MAC is needed");
    if (!options.count("--address"))
        badCommandLine("--address IP is needed");
    settings.address = address("--address");
    settings.interfaceName = options["--interface"];
    settings.bootServer = address("--server");
    if (options.count("--sname"))
        settings.serverName = options["--sname"];
    settings.broadcastFlag = options.count("--broadcast-flag");
    settings.magicWait = BootLoaderSim::Milliseconds(number("--magic-wait-ms", 60000));
    settings.bootAttempts = static_cast<int>(number("--boot-attempts", 10));
    settings.tftpTimeout = BootLoaderSim::Milliseconds(number("--tftp-timeout-ms", 1000));
    settings.ignoreMagicPackets = static_cast<int>(number("--ignore-magic", 0));
    settings.ignoreBootReplies = static_cast<int>(number("--ignore-bootp-replies", 0));
    settings.bootDelay = BootLoaderSim::Milliseconds(number("--boot-delay-ms", 0));
    settings.dropDataEvery = static_cast<int>(number("--drop-every", 0));
    settings.duplicateAcks = options.count("--duplicate-acks");
    settings.slowAckEvery = static_cast<int>(number("--slow-ack-every", 0));
    settings.slowAckDelay = BootLoaderSim::Milliseconds(number("--slow-ack-ms", 0));
    settings.errorAtBlock = static_cast<int>(number("--error-at-block", 0));
    settings.errorCode = static_cast<std::uint16_t>(number("--error-code", 3));
    if (options.count("--error-message"))
        settings.errorMessage = options["--error-message"];
    settings.silentAfterBlock = static_cast<int>(number("--silent-after-block", 0));
    if (options.count("--tftp-only")) {
        settings.tftpOnly = true;
        settings.tftpServer = address("--tftp-only");
        settings.tftpFile = options["--file"];
        if (settings.tftpFile.empty())
            badCommandLine("--tftp-only needs --file");
    }

    BootLoaderSim simulator(settings);
    const BootLoaderSim::Result result = simulator.run();

    if (options.count("--output")) {
        std::ofstream output(options["--output"], std::ios::binary | std::ios::trunc);
        output.write(reinterpret_cast<const char *>(result.image.data()),
                     static_cast<std::streamsize>(result.image.size()));
        if (!output)
            std::fprintf(stderr, "bootloader-sim: cannot write %s\n", options["--output"].c_str());
    }

    std::string duplicates;
    for (int block : result.duplicateBlocks)
        duplicates += (duplicates.empty() ? "" : ",") + std::to_string(block);
    char assigned[INET_ADDRSTRLEN] = {}, server[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &result.assignedAddress, assigned, sizeof assigned);
    inet_ntop(AF_INET, &result.serverAddress, server, sizeof server);
    std::printf("result=%s\nreason=%s\nbytes=%zu\nblocks=%d\nlast_block_bytes=%zu\n"
                "duplicate_blocks=%s\nstray_packets=%d\nmagic_packets=%d\nforeign_packets=%d\n"
                "bootp_requests=%d\nassigned_address=%s\nserver_address=%s\nboot_file=%s\n"
                "transfer_seconds=%.3f\n",
                BootLoaderSim::outcomeName(result.outcome), result.reason.c_str(), result.image.size(),
                result.blocks, result.lastBlockSize, duplicates.c_str(), result.strayPackets,
                result.magicPackets, result.foreignPackets, result.bootRequests, assigned, server,
                result.bootFile.c_str(), result.transferSeconds);

    switch (result.outcome) {
    case BootLoaderSim::Result::Outcome::Received:
        return 0;
    case BootLoaderSim::Result::Outcome::Aborted:
        return 3;
    default:
        return 1;
    }
}
