#include "simoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <functional>

namespace {

const char *const description =
    "Simulated Velquor network clock or time server: answers the device web\n"
    "interface over HTTP/1.1 for tests and demonstrations on loopback.\n"
    "\n"
    "Pages: /index.html (open to everyone; title \"Velquor Configuration\", or\n"
    "\"Time Server Configuration\" for the VO1000), and, behind the password,\n"
    "/var/www/settings.html, /var/www/version.html, /var/www/mac.html (the MAC\n"
    "text alone), /var/www/update.html (the timestamp text alone); POST\n"
    "/etc/update_code takes the update code as its body.\n"
    "Credential: \"Authorization: Basic <credential>\", no user name, no Base64.\n"
    "Generation A takes the password in plain, generation B its MD5 digest\n"
    "(32 lower-case hex digits); a wrong credential gets 401.\n"
    "\n"
    "Every request, every answer sent, every reset and every update-code upload\n"
    "is logged as one JSON object per line (field \"event\": request, response,\n"
    "reset, update_code), flushed at once.\n"
    "\n"
    "Fault options take a request path (without query) or \"*\" for every path\n"
    "and may be given several times; an exact path overrides \"*\".\n"
    "\n"
    "With --boot-loader the device also runs its Ethernet boot loader: it waits\n"
    "for the magic packet (UDP port 9), asks for an address by BOOTP and fetches\n"
    "the image by TFTP, session after session; each flash is logged as a\n"
    "\"flash\" event. Its ports need root.\n"
    "\n"
    "Commands on standard input, one per line: \"release [PATH]\" answers held\n"
    "requests (all of them without PATH); \"quit\" stops the device.\n"
    "\n"
    "Prints \"listening on ADDRESS:PORT\" once ready (the real port for --port 0);\n"
    "exits with status 1 when it cannot listen, 2 on a bad option.";

// Splits "PATH=VALUE" at the first "=": paths hold none, a --body text may.
bool splitPathValue(const QString &text, QString &path, QString &value)
{
    const int equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return false;
    path = text.left(equals);
    value = text.mid(equals + 1);
    return true;
}

bool isPath(const QString &path)
{
    return path == QLatin1String("*") || path.startsWith(QLatin1Char('/'));
}

} // namespace

SimOptionsParser::Outcome SimOptionsParser::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    parser.addOptions({
        {QStringLiteral("address"), QStringLiteral("Address to listen on (default 127.0.0.2)."),
         QStringLiteral("address"), QStringLiteral("127.0.0.2")},
        {QStringLiteral("port"), QStringLiteral("TCP port to listen on; 0 picks a free one (default 80)."),
         QStringLiteral("port"), QStringLiteral("80")},
        {QStringLiteral("kind"), QStringLiteral("Device kind: poe, wifi or vo1000 (default poe)."),
         QStringLiteral("kind"), QStringLiteral("poe")},
        {QStringLiteral("generation"),
         QStringLiteral("Hardware generation: A (Stellaris, plain password) or B (Tiva, password "
                        "digest) (default B)."),
         QStringLiteral("A|B"), QStringLiteral("B")},
        {QStringLiteral("password"), QStringLiteral("Device password (default plorvask)."),
         QStringLiteral("text"), QStringLiteral("plorvask")},
        {QStringLiteral("timestamp"),
         QStringLiteral("Body of the update page, the device's UTC timestamp text (default: the "
                        "current UTC time at each request, ISO 8601)."),
         QStringLiteral("text")},
        {QStringLiteral("mac"), QStringLiteral("Body of the MAC page (default 02:56:51:4B:00:01)."),
         QStringLiteral("text"), QStringLiteral("02:56:51:4B:00:01")},
        {QStringLiteral("accept"),
         QStringLiteral("Credentials accepted: plain, digest or both (default: plain for "
                        "generation A, digest for B)."),
         QStringLiteral("forms")},
        {QStringLiteral("log"), QStringLiteral("Log file (default: standard output)."),
         QStringLiteral("file")},
        {QStringLiteral("quit-on-eof"),
         QStringLiteral("Stop when standard input closes, e.g. when the process that started "
                        "this one has died.")},
        {QStringLiteral("delay"), QStringLiteral("Answer PATH MS milliseconds late."),
         QStringLiteral("PATH=MS")},
        {QStringLiteral("hang"),
         QStringLiteral("Never answer PATH; the connection stays open."), QStringLiteral("PATH")},
        {QStringLiteral("hold"),
         QStringLiteral("Answer PATH only after \"release\" arrives on standard input."),
         QStringLiteral("PATH")},
        {QStringLiteral("reset"),
         QStringLiteral("Reset the connection (TCP RST) instead of answering PATH."),
         QStringLiteral("PATH")},
        {QStringLiteral("huge"),
         QStringLiteral("Send BYTES filler bytes ahead of the page at PATH."),
         QStringLiteral("PATH=BYTES")},
        {QStringLiteral("binary"),
         QStringLiteral("Send 4096 raw bytes of every value ahead of the page at PATH."),
         QStringLiteral("PATH")},
        {QStringLiteral("status"),
         QStringLiteral("Answer PATH with this status (e.g. 404, 500) and an error page."),
         QStringLiteral("PATH=CODE")},
        {QStringLiteral("body"),
         QStringLiteral("Replace the body of the answer at PATH by TEXT."),
         QStringLiteral("PATH=TEXT")},
        {QStringLiteral("idle-timeout-ms"),
         QStringLiteral("Close a connection on which nothing arrives for MS milliseconds between "
                        "requests (default 10000)."),
         QStringLiteral("MS"), QStringLiteral("10000")},
        {QStringLiteral("boot-loader"),
         QStringLiteral("Also simulate the device's Ethernet boot loader (needs root).")},
        {QStringLiteral("boot-mac"),
         QStringLiteral("MAC address the boot loader answers to (default: the hardware address "
                        "of the interface holding --address, as an ARP lookup reports it; "
                        "00:00:00:00:00:00 on loopback)."),
         QStringLiteral("MAC")},
        {QStringLiteral("image-out"),
         QStringLiteral("Write every image the boot loader receives to FILE."),
         QStringLiteral("file")},
        {QStringLiteral("boot-drop-every"),
         QStringLiteral("Boot loader loses the first copy of every Nth TFTP data block."),
         QStringLiteral("N")},
        {QStringLiteral("boot-error-at"),
         QStringLiteral("Boot loader answers TFTP block N with an error."), QStringLiteral("N")},
    });
    m_help = parser.helpText();

    if (!parser.parse(arguments)) {
        fail(parser.errorText());
        return Outcome::Invalid;
    }
    if (parser.isSet(help))
        return Outcome::ShowHelp;
    return readGeneral(parser) && readDevice(parser) && readBehaviours(parser)
            && readBootLoader(parser)
        ? Outcome::Run
        : Outcome::Invalid;
}

bool SimOptionsParser::readGeneral(const QCommandLineParser &parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());
    const QString address = parser.value(QStringLiteral("address"));
    if (!m_options.address.setAddress(address))
        return fail(QStringLiteral("not an IP address: ") + address);
    bool ok = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("not a port number: ") + parser.value(QStringLiteral("port")));
    m_options.port = quint16(port);
    const int idle = parser.value(QStringLiteral("idle-timeout-ms")).toInt(&ok);
    if (!ok || idle < 1 || idle > 3600 * 1000)
        return fail(QStringLiteral("--idle-timeout-ms wants 1 to 3600000"));
    m_options.web.idleTimeoutMs = idle;
    m_options.logFile = parser.value(QStringLiteral("log"));
    m_options.quitOnEof = parser.isSet(QStringLiteral("quit-on-eof"));
    return true;
}

bool SimOptionsParser::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool SimOptionsParser::readDevice(const QCommandLineParser &parser)
{
    WebInterface::Settings &web = m_options.web;
    const QString kind = parser.value(QStringLiteral("kind")).toLower();
    if (kind == QLatin1String("poe"))
        web.kind = DevicePages::Kind::Poe;
    else if (kind == QLatin1String("wifi"))
        web.kind = DevicePages::Kind::Wifi;
    else if (kind == QLatin1String("vo1000"))
        web.kind = DevicePages::Kind::Vo1000;
    else
        return fail(QStringLiteral("unknown device kind: ") + kind);

    const QString generation = parser.value(QStringLiteral("generation")).toUpper();
    if (generation == QLatin1String("A"))
        web.generation = DevicePages::Generation::A;
    else if (generation == QLatin1String("B"))
        web.generation = DevicePages::Generation::B;
    else
        return fail(QStringLiteral("unknown generation: ") + generation);

    web.password = parser.value(QStringLiteral("password"));
    web.timestamp = parser.value(QStringLiteral("timestamp"));
    web.mac = parser.value(QStringLiteral("mac"));

    if (parser.isSet(QStringLiteral("accept"))) {
        const QString accept = parser.value(QStringLiteral("accept")).toLower();
        if (accept == QLatin1String("plain"))
            web.acceptedCredentials = WebInterface::PlainPassword;
        else if (accept == QLatin1String("digest"))
            web.acceptedCredentials = WebInterface::PasswordDigest;
        else if (accept == QLatin1String("both"))
            web.acceptedCredentials = WebInterface::PlainPassword | WebInterface::PasswordDigest;
        else
            return fail(QStringLiteral("unknown credential form: ") + accept);
    }
    return true;
}

bool SimOptionsParser::readBehaviours(const QCommandLineParser &parser)
{
    PathBehaviours &behaviours = m_options.web.behaviours;
    QString path;
    QString value;

    // PATH=NUMBER options; the number is checked against [minimum, maximum].
    const auto numbers = [&](const QString &option, qint64 minimum, qint64 maximum,
                             const std::function<void(PathBehaviour &, qint64)> &store) {
        for (const QString &text : parser.values(option)) {
            bool ok = false;
            const qint64 number = splitPathValue(text, path, value) ? value.toLongLong(&ok) : -1;
            if (!ok || !isPath(path) || number < minimum || number > maximum)
                return fail(QStringLiteral("--%1 wants PATH=NUMBER with NUMBER from %2 to %3: %4")
                                .arg(option).arg(minimum).arg(maximum).arg(text));
            store(behaviours.forPath(path), number);
        }
        return true;
    };
    if (!numbers(QStringLiteral("delay"), 0, 24 * 3600 * 1000,
                 [](PathBehaviour &b, qint64 n) { b.delayMs = int(n); })
        || !numbers(QStringLiteral("huge"), 0, Q_INT64_C(1) << 40,
                    [](PathBehaviour &b, qint64 n) { b.fillerBytes = n; })
        || !numbers(QStringLiteral("status"), 100, 599,
                    [](PathBehaviour &b, qint64 n) { b.status = int(n); }))
        return false;

    const auto flag = [&](const QString &option, bool PathBehaviour::*member) {
        for (const QString &text : parser.values(option)) {
            if (!isPath(text))
                return fail(QStringLiteral("--%1 wants a path starting with \"/\" or \"*\": %2")
                                .arg(option, text));
            behaviours.forPath(text).*member = true;
        }
        return true;
    };
    if (!flag(QStringLiteral("hang"), &PathBehaviour::hang)
        || !flag(QStringLiteral("hold"), &PathBehaviour::hold)
        || !flag(QStringLiteral("reset"), &PathBehaviour::reset)
        || !flag(QStringLiteral("binary"), &PathBehaviour::binary))
        return false;

    for (const QString &text : parser.values(QStringLiteral("body"))) {
        if (!splitPathValue(text, path, value) || !isPath(path))
            return fail(QStringLiteral("--body wants PATH=TEXT: ") + text);
        PathBehaviour &behaviour = behaviours.forPath(path);
        behaviour.hasBody = true;
        behaviour.body = value.toUtf8();
    }
    return true;
}

bool SimOptionsParser::readBootLoader(const QCommandLineParser &parser)
{
    m_options.bootLoader = parser.isSet(QStringLiteral("boot-loader"));
    BootLoaderHost::Settings &boot = m_options.boot;
    boot.mac = parser.value(QStringLiteral("boot-mac"));
    boot.imageFile = parser.value(QStringLiteral("image-out"));
    const auto count = [&](const QString &option, int &target) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        target = parser.value(option).toInt(&ok);
        return ok && target > 0 ? true
                                : fail(QStringLiteral("--%1 wants a positive number").arg(option));
    };
    return count(QStringLiteral("boot-drop-every"), boot.dropDataEvery)
        && count(QStringLiteral("boot-error-at"), boot.errorAtBlock);
}
