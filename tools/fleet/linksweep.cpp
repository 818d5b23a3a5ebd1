#include "linksweep.h"

#include "ipv4text.h"
#include "macaddresstext.h"
#include "toollocator.h"

#include "platform/toolline.h"

#include <QTimer>

namespace {

constexpr int answerWaitMs = 1000;
// Sending a /16's requests, reading the routes and the port answers of
// the last hosts take a few seconds.
constexpr int longestRunMs = answerWaitMs + 15000;

// Contiguous runs of the sorted addresses, as "FIRST-LAST".
QStringList rangesOf(QVector<quint32> addresses)
{
    std::sort(addresses.begin(), addresses.end());
    QStringList ranges;
    for (int start = 0; start < addresses.size();) {
        int end = start;
        while (end + 1 < addresses.size() && addresses.at(end + 1) <= addresses.at(end) + 1)
            ++end;
        ranges << formatIpv4(addresses.at(start)) + QLatin1Char('-') + formatIpv4(addresses.at(end));
        start = end + 1;
    }
    return ranges;
}

} // namespace

LinkSweep::LinkSweep(const QString &arpTool, quint16 port, QObject *parent)
    : QObject(parent)
    , m_arpTool(arpTool)
    , m_port(port)
{
    m_process.setProcessEnvironment(toolEnvironment());
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &LinkSweep::readOutput);
    connect(&m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, [this] {
        readOutput();
        finishOnce();
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finishOnce();
    });
}

LinkSweep::~LinkSweep()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void LinkSweep::start(const QVector<quint32> &addresses)
{
    if (m_arpTool.isEmpty() || addresses.isEmpty()) {
        QTimer::singleShot(0, this, &LinkSweep::finishOnce);
        return;
    }
    m_process.start(m_arpTool, QStringList{QStringLiteral("--sweep"), QStringLiteral("-w"), QString::number(answerWaitMs),
                                           QStringLiteral("--port"), QString::number(m_port)}
                                   + rangesOf(addresses));
    QTimer::singleShot(longestRunMs, &m_process, &QProcess::kill);
}

void LinkSweep::stop()
{
    if (m_process.state() != QProcess::NotRunning)
        m_process.kill();
}

bool LinkSweep::asked(quint32 address) const
{
    for (const QPair<quint32, quint32> &range : m_asked) {
        if (address >= range.first && address <= range.second)
            return true;
    }
    return false;
}

void LinkSweep::readOutput()
{
    while (m_process.canReadLine()) {
        const QStringList words = decodeToolLine(m_process.readLine()).simplified().split(QLatin1Char(' '));
        // "Reply from MAC for ADDRESS on IF", "Port N open|closed|silent at
        // ADDRESS on IF" and "Swept FIRST-LAST on IF".
        if (words.size() == 7 && words.at(0) == QLatin1String("Port") && words.at(1) == QString::number(m_port)) {
            static const QHash<QString, Port> states{
                {QStringLiteral("open"), Port::Open},
                {QStringLiteral("closed"), Port::Closed},
                {QStringLiteral("silent"), Port::Silent}};
            const std::optional<quint32> address = parseIpv4(words.at(4));
            if (address && states.contains(words.at(2)))
                m_ports.insert(*address, states.value(words.at(2)));
        } else if (words.size() == 7 && words.at(0) == QLatin1String("Reply") && isMacAddressText(words.at(2))) {
            if (const std::optional<quint32> address = parseIpv4(words.at(4)))
                m_macs.insert(*address, words.at(2).toUpper());
        } else if (words.size() == 4 && words.at(0) == QLatin1String("Swept")) {
            const QStringList ends = words.at(1).split(QLatin1Char('-'));
            const std::optional<quint32> first = parseIpv4(ends.value(0));
            const std::optional<quint32> last = parseIpv4(ends.value(1));
            if (ends.size() == 2 && first && last && *first <= *last)
                m_asked.append({*first, *last});
        }
    }
}

void LinkSweep::finishOnce()
{
    if (m_finished)
        return;
    // A run that did not end well may have printed only part of its answers:
    // nothing counts as asked then, so nothing is called empty.
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0) {
        m_asked.clear();
    } else {
        const QStringList lines = decodeToolLine(m_process.readAllStandardError()).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (!line.trimmed().isEmpty())
                m_notes << line.trimmed();
        }
    }
    m_finished = true;
    emit finished();
}
