#include "fleetoptions.h"

#include "boundednumber.h"
#include "optiontable.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char synopsis[] = "scan|update [--images DIR] [options] TARGET...";

const char summary[] = R"(Finds every Velquor device in address ranges and updates them all.

scan     lists the Velquor devices found (address, kind, generation, MAC,
         kind letter, password state) and counts the other addresses.
update   scans, picks for each device the image in DIR whose trailer letter
         is its kind letter, uploads its update code, flashes it with
         eflash.exe and waits until its web interface answers again with
         the same kind.

TARGET   10.0.5.7 (leading zeros read as decimal), a range 10.0.5.20-60 or
         10.0.5.20-10.0.6.10, a block 10.0.5.0/24 (at most /16), or @FILE
         with one target per line and # comments.

Before it asks, update prints its plan, one line per device: flash (the
canaries marked), current, no image, cannot update, or not on this
machine's segment. A device reached through a router can be scanned but
not flashed, since its boot loader asks by broadcast: it is never tried,
and the update must run on a host in the device's own segment.

The rollout:
  --canary N        the first N devices to flash go alone, flashed and
                    checked; the rest start only when every one of them
                    came back updated. A failed canary stops the run.
  --max-failures N  once more than N devices (or N% of those to flash)
                    have failed, no further device starts; those running
                    finish. The default, 10%, lets a device's own trouble
                    (a loose cable, a busy switch port) pass, and stops
                    once failures point at something all share (the
                    image, the network) before it reaches every device.
  Devices never started for either reason are "not-started", untouched.
  current           the devices do not report their firmware version, so
                    the history decides: a device (by MAC) whose latest
                    flash was a complete one with the same image (SHA-256)
                    is current and is not flashed again (--reinstall does).
                    A MAC of all zeros (loopback simulators) names no
                    device and is never current.
  Stopped midway (Ctrl-C, power, a killed process), the same command again
  flashes only what is not yet current.
  A flash whose last acknowledgement never came is flashed once more with
  the same image; only a confirmed flash counts as updated, otherwise the
  device is "unconfirmed".

Passwords are never taken on the command line. Each device gets, in this
order: its line "ADDRESS PASSWORD" in --password-file (which only its owner
may read: chmod 600), the file's line "* PASSWORD", the environment
variable ZUDIRUV_PASSWORD, or the devices' default password. A password goes
only to addresses whose index page shows a Velquor title, and never into any
output, report or tool it starts.

arpping.exe and eflash.exe are taken from the folder that holds
zudiruv-fleet, or else from ../libexec/zudiruv beside it, never from the
working directory; one that group or others may change (the file or a
folder above it), or that belongs to neither root nor you, is refused.
eflash.exe serves UDP ports 67 and 69: as installed by the package it has
the capability for that, elsewhere it needs root. update appends a line per
flash to the history (--history, else zudiruv-history.jsonl in the working
directory) and reads it to tell which devices are current.

--json writes the report (as --report does) to standard output; every
other line then goes to standard error.

Exit status:
  0  every device found was updated or is current (scan: the scan ran;
     dry run: every device would be flashed or is current)
  1  some device was not updated: it failed, has no image or cannot be
     updated, or the run stopped (canary, failure budget, Ctrl-C)
  2  usage error
  3  nothing to do: every device found is current (nothing was flashed)
  4  unconfirmed: all the others updated or current, but some device took
     the image twice without confirming the last block; check it on site
     or run the same command again

Example (the README shows it on simulated devices):
  zudiruv-fleet scan 10.0.5.0/24
  zudiruv-fleet update --images ./images --password-file ./passwords \
                --report fleet.json 10.0.5.0/24)";

bool usageError(const std::string &message, int *exitCode)
{
    std::fprintf(stderr, "zudiruv-fleet: %s\nTry \"zudiruv-fleet --help\".\n", message.c_str());
    *exitCode = 2;
    return false;
}

std::string readFailureBudget(const std::string &text, FleetOptions *options)
{
    const bool percent = !text.empty() && text.back() == '%';
    const std::optional<long long> number
        = parseBoundedNumber(percent ? text.substr(0, text.size() - 1) : text, 0, percent ? 100 : 1000000);
    if (!number)
        return "a count 0..1000000 or a percentage 0%..100% is needed";
    options->maxFailures = int(*number);
    options->maxFailuresIsPercent = percent;
    return std::string();
}

} // namespace

int failureBudget(const FleetOptions &options, int devices)
{
    return options.maxFailuresIsPercent ? int(qint64(devices) * options.maxFailures / 100) : options.maxFailures;
}

bool parseFleetOptions(int argc, const char *const *argv, FleetOptions *options, int *exitCode)
{
    // Named before the table sees it, so that no error message can repeat
    // a password typed after it.
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument.rfind("--password", 0) == 0 && argument.rfind("--password-file", 0) != 0)
            || argument.rfind("--pwd", 0) == 0 || argument == "-p") {
            return usageError("passwords are not taken on the command line; "
                              "use --password-file FILE or ZUDIRUV_PASSWORD", exitCode);
        }
    }

    std::vector<std::string> words;
    std::string images, passwordFile, report, history;
    OptionTable table("zudiruv-fleet", synopsis, summary);
    table.positional("COMMAND TARGET...", "scan or update, then the addresses (see above)",
                     [&words](const std::string &word) { words.push_back(word); return std::string(); },
                     2, 1 << 20);
    table.text("--images", "DIR", "firmware images (*.bin) for update", &images);
    table.text("--password-file", "FILE", "passwords per address, see above", &passwordFile);
    table.text("--report", "FILE", "write a JSON report to FILE (replaced atomically)", &report);
    table.flag("--dry-run", "scan, match and check the images; send nothing else", &options->dryRun);
    table.flag("--yes", "update without asking (needed without a terminal)", &options->yes);
    table.number("--parallel", "N", "devices updated at once, 1..64 (default 8)", &options->parallel, 1, 64);
    table.number("--verify-seconds", "S", "how long a flashed device has to answer again,\n1..3600 (default 180)",
                 &options->verifySeconds, 1, 3600);
    table.number("--canary", "N", "devices flashed first and alone, 0..1024; 0 turns it off\n(default 1)",
                 &options->canary, 0, 1024);
    table.option("--max-failures", "N|N%", "failures tolerated before no further device\nstarts (default 10%)",
                 [options](const std::string &text) { return readFailureBudget(text, options); });
    table.flag("--reinstall", "flash current devices too", &options->reinstall);
    table.text("--history", "FILE", "the flash history to read and append to\n(default ./zudiruv-history.jsonl)", &history);
    table.flag("--json", "the report to standard output, the rest to standard error", &options->json);
    if (const std::optional<int> early = table.parseCommandLine(argc, argv)) {
        *exitCode = *early;
        return false;
    }

    const std::string command = words.front();
    if (command == "scan")
        options->command = FleetOptions::Command::Scan;
    else if (command == "update")
        options->command = FleetOptions::Command::Update;
    else
        return usageError("unknown command \"" + command + "\"; use scan or update", exitCode);
    for (std::size_t i = 1; i < words.size(); ++i)
        options->targets << QString::fromLocal8Bit(words[i].c_str());
    options->imagesDir = QString::fromLocal8Bit(images.c_str());
    options->passwordFile = QString::fromLocal8Bit(passwordFile.c_str());
    options->reportFile = QString::fromLocal8Bit(report.c_str());
    options->historyFile = QString::fromLocal8Bit(history.c_str());

    const bool update = options->command == FleetOptions::Command::Update;
    if (update && options->imagesDir.isEmpty())
        return usageError("update needs --images DIR", exitCode);
    if (!update) {
        for (const char *updateOnly : {"--images", "--dry-run", "--yes", "--parallel", "--verify-seconds", "--canary",
                                      "--max-failures", "--reinstall", "--history"}) {
            if (table.wasGiven(updateOnly))
                return usageError(std::string(updateOnly) + " belongs to update, not scan", exitCode);
        }
    }
    return true;
}
