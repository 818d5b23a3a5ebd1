#include "bootloaderhost.h"

#include "ipv4address.h"
#include "macaddress.h"
#include "requestlog.h"

#include <QFile>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

namespace {

// Between sessions, so that a session that fails at once cannot spin.
constexpr int restartDelayMs = 200;

QString hardwareAddressOf(const QHostAddress &address)
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (entry.ip().isEqual(address, QHostAddress::TolerantConversion)
                || (address.isLoopback() && interface.flags().testFlag(QNetworkInterface::IsLoopBack))) {
                const QString mac = interface.hardwareAddress();
                return mac.isEmpty() ? QStringLiteral("00:00:00:00:00:00") : mac;
            }
        }
    }
    return QString();
}

} // namespace

BootLoaderHost::BootLoaderHost(const QHostAddress &address, Settings settings, RequestLog *log)
    : m_address(address)
    , m_settings(std::move(settings))
    , m_log(log)
{
}

QString BootLoaderHost::defaultMac(const QHostAddress &address)
{
    return hardwareAddressOf(address);
}

BootLoaderHost::~BootLoaderHost()
{
    if (m_simulator)
        m_simulator->stop();
}

bool BootLoaderHost::start()
{
    const QString macText = m_settings.mac.isEmpty() ? defaultMac(m_address) : m_settings.mac;
    const std::optional<MacAddress> mac = parseMacAddress(macText.toStdString());
    if (!mac) {
        m_error = QStringLiteral("no usable MAC address for the boot loader: \"%1\"").arg(macText);
        return false;
    }
    m_macText = QString::fromStdString(formatMacAddress(*mac));
    BootLoaderSim::Settings settings;
    settings.mac = *mac;
    const std::optional<in_addr> address = parseIpv4Address(m_address.toString().toStdString());
    if (!address) {
        m_error = QStringLiteral("the boot loader needs an IPv4 address");
        return false;
    }
    settings.address = *address;
    // The magic packet arrives on port 9 and BOOTP replies on 68.
    for (const quint16 port : {quint16(9), quint16(68)}) {
        QUdpSocket probe;
        if (!probe.bind(m_address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
            m_error = QStringLiteral("cannot use UDP port %1 on %2 (ports below 1024 need root): %3")
                          .arg(port).arg(m_address.toString(), probe.errorString());
            return false;
        }
    }
    settings.dropDataEvery = m_settings.dropDataEvery;
    settings.errorAtBlock = m_settings.errorAtBlock;
    settings.blockWrite = std::chrono::milliseconds(m_settings.blockWriteMs);
    settings.link = m_settings.link;
    m_sessionSettings = settings;
    m_simulator = std::make_unique<BootLoaderSim>(settings);
    startSession();
    return true;
}

void BootLoaderHost::startSession()
{
    m_sessionSettings.dropFinalAck = m_flashes < m_settings.dropFinalAckFlashes;
    m_simulator->setSettings(m_sessionSettings);
    // Both are called on the session's own thread; the log, the signals and
    // the next session belong to this object's thread.
    m_simulator->start(
        [this](const BootLoaderSim::Result &result) {
            QMetaObject::invokeMethod(this, [this, result] { sessionEnded(result); }, Qt::QueuedConnection);
        },
        [this] { QMetaObject::invokeMethod(this, &BootLoaderHost::entered, Qt::QueuedConnection); });
}

void BootLoaderHost::sessionEnded(const BootLoaderSim::Result &result)
{
    using Outcome = BootLoaderSim::Result::Outcome;
    if (result.outcome == Outcome::Stopped)
        return;
    // A session that saw no magic packet is just the boot loader waiting.
    if (result.magicPackets > 0) {
        ++m_flashes;
        const bool written = result.outcome == Outcome::Received && writeImage(result.image);
        m_log->write(QStringLiteral("flash"),
                     {{QStringLiteral("outcome"), QString::fromLatin1(BootLoaderSim::outcomeName(result.outcome))},
                      {QStringLiteral("reason"), QString::fromStdString(result.reason)},
                      {QStringLiteral("bytes"), double(result.image.size())},
                      {QStringLiteral("blocks"), result.blocks},
                      {QStringLiteral("image_written"), written}});
        emit left();
    }
    QTimer::singleShot(restartDelayMs, this, &BootLoaderHost::startSession);
}

bool BootLoaderHost::writeImage(const std::vector<std::uint8_t> &image)
{
    if (m_settings.imageFile.isEmpty())
        return false;
    QFile file(m_settings.imageFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const qint64 size = qint64(image.size());
    return file.write(reinterpret_cast<const char *>(image.data()), size) == size;
}
