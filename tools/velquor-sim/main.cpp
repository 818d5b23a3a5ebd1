#include "bootloaderhost.h"
#include "controlinput.h"
#include "requestlog.h"
#include "simoptions.h"
#include "webinterface.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

QString endpoint(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
        : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

void printLine(FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velquor-sim"));

    SimOptionsParser parser;
    switch (parser.parse(QCoreApplication::arguments())) {
    case SimOptionsParser::Outcome::ShowHelp:
        printLine(stdout, parser.helpText());
        return 0;
    case SimOptionsParser::Outcome::Invalid:
        printLine(stderr, QStringLiteral("velquor-sim: ") + parser.errorText()
                              + QStringLiteral(" (see --help)"));
        return 2;
    case SimOptionsParser::Outcome::Run:
        break;
    }
    const SimOptions &options = parser.options();

    RequestLog log;
    if (!log.open(options.logFile)) {
        printLine(stderr, QStringLiteral("velquor-sim: cannot write log file %1: %2")
                              .arg(options.logFile, log.errorString()));
        return 1;
    }

    WebInterface web(options.web, &log);
    if (!web.listen(options.address, options.port)) {
        printLine(stderr, QStringLiteral("velquor-sim: cannot listen on %1: %2")
                              .arg(endpoint(options.address, options.port), web.errorString()));
        return 1;
    }

    BootLoaderHost bootLoader(options.address, options.boot, &log);
    if (options.bootLoader && !bootLoader.start()) {
        printLine(stderr, QStringLiteral("velquor-sim: ") + bootLoader.errorString());
        return 1;
    }

    ControlInput control;
    QObject::connect(&control, &ControlInput::commandReceived,
                     [&](const QString &command, const QString &argument) {
                         if (command == QLatin1String("release"))
                             web.releaseHeld(argument);
                         else if (command == QLatin1String("quit"))
                             app.quit();
                     });
    if (options.quitOnEof)
        QObject::connect(&control, &ControlInput::endOfInput, &app, &QCoreApplication::quit);

    printLine(stdout, QStringLiteral("listening on ") + endpoint(web.address(), web.port()));
    if (options.bootLoader)
        printLine(stdout, QStringLiteral("boot loader waiting for the magic packet for ") + bootLoader.mac());
    return app.exec();
}
