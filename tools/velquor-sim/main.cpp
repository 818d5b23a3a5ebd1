// velquor-sim: a simulated Velquor device for tests and demonstrations.
// Run with --help for what it serves and the options.

#include "simoptions.h"
#include "simulateddevice.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <arpa/inet.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    SimOptions device;
    PathBehaviours *faults = &device.web.behaviours;
    constexpr long long day = 24 * 3600 * 1000;

    OptionTable options("velquor-sim", "[options]", simulatorSummary);
    options.address("--address", "IP", "address to listen on (127.0.0.2)", &device.address)
        .number("--port", "PORT", "TCP port to listen on; 0 picks a free one (80)", &device.port, 0, 65535)
        .option("--kind", "KIND", "device kind: poe, wifi or vo1000 (poe)", simoption::kind(&device.web.kind))
        .option("--generation", "A|B", "hardware generation: A (Stellaris, plain password) or\n"
                "B (Tiva, password digest) (B)", simoption::generation(&device.web.generation))
        .option("--password", "TEXT", "device password (plorvask)", simoption::text(&device.web.password))
        .option("--timestamp", "TEXT", "body of the update page, the device's UTC timestamp text\n"
                "(default: the current UTC time at each request, ISO 8601)", simoption::text(&device.web.timestamp))
        .option("--mac", "TEXT", "body of the MAC page (default: the boot loader's MAC\n"
                "address, as --boot-mac; so the page, the boot loader and an\n"
                "ARP lookup of --address agree)", simoption::text(&device.web.mac))
        .option("--accept", "FORMS", "credentials accepted: plain, digest or both\n"
                "(default: plain for generation A, digest for B)", simoption::credentials(&device.web.acceptedCredentials))
        .option("--log", "FILE", "log file (default: standard output)", simoption::text(&device.logFile))
        .flag("--quit-on-eof", "stop when standard input closes, e.g. when the process\n"
              "that started this one has died", &device.quitOnEof)
        .number("--idle-timeout-ms", "MS", "close a connection on which nothing arrives for MS\n"
                "between requests (10000)", &device.web.idleTimeoutMs, 1, day)
        .option("--delay", "PATH=MS", "answer PATH MS milliseconds late", simoption::pathNumber(faults, 0, day,
                [](PathBehaviour &b, long long n) { b.delayMs = int(n); }))
        .option("--hang", "PATH", "never answer PATH; the connection stays open",
                simoption::pathFlag(faults, &PathBehaviour::hang))
        .option("--hold", "PATH", "answer PATH only after \"release\" arrives on standard input",
                simoption::pathFlag(faults, &PathBehaviour::hold))
        .option("--reset", "PATH", "reset the connection (TCP RST) instead of answering PATH",
                simoption::pathFlag(faults, &PathBehaviour::reset))
        .option("--huge", "PATH=BYTES", "send BYTES filler bytes ahead of the page at PATH",
                simoption::pathNumber(faults, 0, 1ll << 40, [](PathBehaviour &b, long long n) { b.fillerBytes = n; }))
        .option("--binary", "PATH", "send 4096 raw bytes of every value ahead of the page at PATH",
                simoption::pathFlag(faults, &PathBehaviour::binary))
        .option("--status", "PATH=CODE", "answer PATH with this status (e.g. 404, 500) and an error page",
                simoption::pathNumber(faults, 100, 599, [](PathBehaviour &b, long long n) { b.status = int(n); }))
        .option("--body", "PATH=TEXT", "replace the body of the answer at PATH by TEXT", simoption::pathText(faults))
        .flag("--boot-loader", "also simulate the device's Ethernet boot loader (needs root)", &device.bootLoader)
        .option("--boot-mac", "MAC", "MAC address the boot loader answers to (default: the\n"
                "hardware address of the interface holding --address;\n00:00:00:00:00:00 on loopback)",
                simoption::text(&device.boot.mac))
        .option("--image-out", "FILE", "write every image the boot loader receives to FILE",
                simoption::text(&device.boot.imageFile))
        .number("--boot-drop-every", "N", "boot loader loses the first copy of every Nth TFTP block",
                &device.boot.dropDataEvery, 1, 65535)
        .number("--boot-error-at", "N", "boot loader answers TFTP block N with an error", &device.boot.errorAtBlock, 1, 65535)
        .number("--boot-drop-final-ack", "N", "the first N flashes end without the last block's\n"
                "acknowledgement and keep the old image", &device.boot.dropFinalAckFlashes, 0, 1000)
        .number("--block-write-ms", "MS", "boot loader takes MS to write each block to flash (0)",
                &device.boot.blockWriteMs, 0, 60000)
        .number("--reboot-seconds", "S", "after the boot loader, the web interface stays away\n"
                "this long (0)", &device.rebootSeconds, 0, 3600);
    LinkImpairment::addOptions(options, "--boot-", &device.boot.link);
    if (const auto exitCode = options.parseCommandLine(argc, argv))
        return *exitCode;
    if (device.web.mac.isEmpty()) {
        device.web.mac = device.boot.mac.isEmpty()
            ? BootLoaderHost::defaultMac(QHostAddress(ntohl(device.address.s_addr)))
            : device.boot.mac;
    }
    return SimulatedDevice(device).run();
}
