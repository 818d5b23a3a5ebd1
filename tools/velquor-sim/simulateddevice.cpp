#include "simulateddevice.h"

#include "ipv4address.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

QHostAddress hostAddress(in_addr address)
{
    return QHostAddress(QString::fromStdString(addressText(address)));
}

void printLine(FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace

SimulatedDevice::SimulatedDevice(const SimOptions &options)
    : m_options(options)
    , m_web(options.web, &m_log)
    , m_bootLoader(hostAddress(options.address), options.boot, &m_log)
{
    m_reboot.setSingleShot(true);
    m_reboot.setInterval(options.rebootSeconds * 1000);
    connect(&m_reboot, &QTimer::timeout, this, &SimulatedDevice::comeBackOnline);
    connect(&m_bootLoader, &BootLoaderHost::entered, this, &SimulatedDevice::enterBootLoader);
    connect(&m_bootLoader, &BootLoaderHost::left, this, &SimulatedDevice::leaveBootLoader);
    connect(&m_control, &ControlInput::commandReceived, this,
            [this](const QString &command, const QString &argument) {
                if (command == QLatin1String("release"))
                    m_web.releaseHeld(argument);
                else if (command == QLatin1String("quit"))
                    QCoreApplication::quit();
            });
    if (options.quitOnEof)
        connect(&m_control, &ControlInput::endOfInput, qApp, &QCoreApplication::quit);
}

int SimulatedDevice::run()
{
    if (!m_log.open(m_options.logFile)) {
        printLine(stderr, QStringLiteral("velquor-sim: cannot write log file %1: %2")
                              .arg(m_options.logFile, m_log.errorString()));
        return 1;
    }
    const QString endpoint = QString::fromStdString(addressText(m_options.address)) + QLatin1Char(':');
    if (!m_web.listen(hostAddress(m_options.address), quint16(m_options.port))) {
        printLine(stderr, QStringLiteral("velquor-sim: cannot listen on %1%2: %3")
                              .arg(endpoint).arg(m_options.port).arg(m_web.errorString()));
        return 1;
    }
    if (m_options.bootLoader && !m_bootLoader.start()) {
        printLine(stderr, QStringLiteral("velquor-sim: ") + m_bootLoader.errorString());
        return 1;
    }
    printLine(stdout, QStringLiteral("listening on ") + endpoint + QString::number(m_web.port()));
    if (m_options.bootLoader)
        printLine(stdout, QStringLiteral("boot loader waiting for the magic packet for ") + m_bootLoader.mac());
    return QCoreApplication::exec();
}

void SimulatedDevice::enterBootLoader()
{
    m_reboot.stop();
    if (!m_web.isOnline())
        return;
    m_web.goOffline();
    m_log.write(QStringLiteral("offline"), {{QStringLiteral("reason"), QStringLiteral("boot loader")}});
}

void SimulatedDevice::leaveBootLoader()
{
    m_reboot.start();
}

void SimulatedDevice::comeBackOnline()
{
    if (m_web.comeOnline()) {
        m_log.write(QStringLiteral("online"), {});
        return;
    }
    // Someone took the port while the device was away; a device that cannot
    // serve its pages is of no use to a test.
    printLine(stderr, QStringLiteral("velquor-sim: cannot listen again after the reboot: ") + m_web.errorString());
    QCoreApplication::exit(1);
}
