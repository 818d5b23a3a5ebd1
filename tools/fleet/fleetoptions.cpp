#include "fleetoptions.h"

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
flashed device to zudiruv-history.jsonl in the working directory.

Exit status: 0 every device found was updated (scan: the scan ran),
1 some device was not (or Ctrl-C), 2 usage error.

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

} // namespace

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
    std::string images, passwordFile, report;
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

    const bool update = options->command == FleetOptions::Command::Update;
    if (update && options->imagesDir.isEmpty())
        return usageError("update needs --images DIR", exitCode);
    if (!update) {
        for (const char *updateOnly : {"--images", "--dry-run", "--yes", "--parallel", "--verify-seconds"}) {
            if (table.wasGiven(updateOnly))
                return usageError(std::string(updateOnly) + " belongs to update, not scan", exitCode);
        }
    }
    return true;
}
