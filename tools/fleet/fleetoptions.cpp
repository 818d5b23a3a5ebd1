#include "fleetoptions.h"

#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

namespace {

const char usageText[] = R"(Usage: zudiruv-fleet scan [options] TARGET...
       zudiruv-fleet update --images DIR [options] TARGET...

Finds every Velquor device in address ranges and updates them all.

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
order: its line "ADDRESS PASSWORD" in --password-file, the file's line
"* PASSWORD", the environment variable ZUDIRUV_PASSWORD, or the devices'
default password. A password goes only to addresses whose index page shows
a Velquor title, and never into any output or report.

arpping.exe and eflash.exe are taken from the working directory, or else
from the folder that holds zudiruv-fleet. Flashing needs root (UDP ports
67 and 69), as eflash.exe does.

Exit status: 0 every device found was updated (scan: the scan ran),
1 some device was not (or Ctrl-C), 2 usage error.

Example, on the simulated devices of the README:
  sudo ZUDIRUV_PASSWORD=... zudiruv-fleet update --images ./images \
       --report fleet.json --yes 127.0.0.10-20

Options:
  --images DIR          Firmware images (*.bin) for update.
  --password-file FILE  Passwords per address, see above.
  --report FILE         Write a JSON report to FILE (replaced atomically).
  --dry-run             Scan, match and check the images; send nothing else.
  --yes                 Update without asking (needed without a terminal).
  --parallel N          Devices updated at once, 1..64 (default 8).
  --verify-seconds S    How long a flashed device has to answer again,
                        1..3600 (default 180).
  -h, --help            Show this help.
)";

void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

bool usageError(const QString &message, int *exitCode)
{
    printTo(stderr, QStringLiteral("zudiruv-fleet: %1\nTry \"zudiruv-fleet --help\".\n").arg(message));
    *exitCode = 2;
    return false;
}

bool readBounded(const QString &text, int lowest, int highest, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok || number < lowest || number > highest || text.startsWith(QLatin1Char('+')))
        return false;
    *value = number;
    return true;
}

} // namespace

bool parseFleetOptions(const QStringList &arguments, FleetOptions *options, int *exitCode)
{
    // Named before the parser sees it, so that no error message can repeat
    // a password typed after it.
    for (const QString &argument : arguments) {
        if ((argument.startsWith(QLatin1String("--password")) && !argument.startsWith(QLatin1String("--password-file")))
            || argument.startsWith(QLatin1String("--pwd")) || argument == QLatin1String("-p")) {
            return usageError(QStringLiteral("passwords are not taken on the command line; "
                                             "use --password-file FILE or ZUDIRUV_PASSWORD"), exitCode);
        }
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption images(QStringLiteral("images"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QString());
    const QCommandLineOption yes(QStringLiteral("yes"), QString());
    const QCommandLineOption parallel(QStringLiteral("parallel"), QString(), QStringLiteral("N"));
    const QCommandLineOption verifySeconds(QStringLiteral("verify-seconds"), QString(), QStringLiteral("S"));
    parser.addOptions({help, images, passwordFile, report, dryRun, yes, parallel, verifySeconds});
    if (!parser.parse(arguments))
        return usageError(parser.errorText(), exitCode);
    if (parser.isSet(help)) {
        printTo(stdout, QString::fromUtf8(usageText));
        *exitCode = 0;
        return false;
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(QStringLiteral("name a command: scan or update"), exitCode);
    const QString command = positional.takeFirst();
    if (command == QLatin1String("scan"))
        options->command = FleetOptions::Command::Scan;
    else if (command == QLatin1String("update"))
        options->command = FleetOptions::Command::Update;
    else
        return usageError(QStringLiteral("unknown command \"%1\"; use scan or update").arg(command), exitCode);
    if (positional.isEmpty())
        return usageError(QStringLiteral("name at least one TARGET"), exitCode);
    options->targets = positional;

    options->imagesDir = parser.value(images);
    options->passwordFile = parser.value(passwordFile);
    options->reportFile = parser.value(report);
    options->dryRun = parser.isSet(dryRun);
    options->yes = parser.isSet(yes);
    if (parser.isSet(parallel) && !readBounded(parser.value(parallel), 1, 64, &options->parallel))
        return usageError(QStringLiteral("--parallel takes a number from 1 to 64"), exitCode);
    if (parser.isSet(verifySeconds) && !readBounded(parser.value(verifySeconds), 1, 3600, &options->verifySeconds))
        return usageError(QStringLiteral("--verify-seconds takes a number from 1 to 3600"), exitCode);

    const bool update = options->command == FleetOptions::Command::Update;
    if (update && options->imagesDir.isEmpty())
        return usageError(QStringLiteral("update needs --images DIR"), exitCode);
    if (!update) {
        for (const QCommandLineOption *updateOnly : {&images, &dryRun, &yes, &parallel, &verifySeconds}) {
            if (parser.isSet(*updateOnly))
                return usageError(QStringLiteral("--%1 belongs to update, not scan").arg(updateOnly->names().constLast()), exitCode);
        }
    }
    return true;
}
