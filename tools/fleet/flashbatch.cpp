#include "flashbatch.h"

#include "platform/toolline.h"

#include <QRegularExpression>
#include <QTimer>

namespace {

// eflash.exe gives up by itself within 15 minutes; this only guards
// against a flasher that hangs.
constexpr int longestRunMs = 20 * 60 * 1000;
constexpr int helpWaitMs = 5000;

} // namespace

FlashBatch::FlashBatch(const QString &flasher, const QVector<Device> &devices, QObject *parent)
    : QObject(parent)
    , m_flasher(flasher)
    , m_devices(devices)
{
    for (const Device &device : devices)
        m_states.insert(device.address, State());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &FlashBatch::readOutput);
    connect(&m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &FlashBatch::processEnded);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            failAll(QStringLiteral("cannot start %1: %2").arg(m_flasher, m_process.errorString()));
    });
}

FlashBatch::~FlashBatch()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

int FlashBatch::devicesPerRun(const QString &flasher, int wanted)
{
    QProcess help;
    help.start(flasher, {QStringLiteral("--help")});
    if (!help.waitForFinished(helpWaitMs)) {
        help.kill();
        help.waitForFinished(helpWaitMs);
        return 1;
    }
    // The usage names the repeated device triple only where it is taken.
    const QString usage = QString::fromUtf8(help.readAllStandardOutput() + help.readAllStandardError());
    return usage.contains(QLatin1String("IMAGE [-i IP -m MAC IMAGE")) ? qMax(1, wanted) : 1;
}

void FlashBatch::start()
{
    QStringList arguments;
    for (const Device &device : m_devices)
        arguments << QStringLiteral("-i") << device.address << QStringLiteral("-m") << device.mac << device.image;
    arguments << QStringLiteral("--verbose");
    m_process.start(m_flasher, arguments);
    QTimer::singleShot(longestRunMs, &m_process, &QProcess::kill);
}

void FlashBatch::readOutput()
{
    while (m_process.canReadLine()) {
        const QString line = decodeToolLine(m_process.readLine()).trimmed();
        if (m_devices.size() == 1) {
            takeLine(m_devices.first().address, line);
            continue;
        }
        // "10.0.5.7: % Complete: 40%"; the colon is optional.
        const int blank = line.indexOf(QLatin1Char(' '));
        QString address = line.left(blank);
        if (address.endsWith(QLatin1Char(':')))
            address.chop(1);
        if (blank > 0 && m_states.contains(address))
            takeLine(address, line.mid(blank + 1).trimmed());
    }
}

void FlashBatch::takeLine(const QString &address, const QString &text)
{
    State &state = m_states[address];
    static const QRegularExpression percentPattern(QStringLiteral("Complete:\\s*(\\d{1,3})\\s*%"));
    const QRegularExpressionMatch match = percentPattern.match(text);
    if (match.hasMatch()) {
        const int percent = qMin(100, match.captured(1).toInt());
        if (percent != state.percent) {
            state.percent = percent;
            emit progress(address, percent);
        }
    }
    if (text.contains(QLatin1String("ERROR")) && state.error.isEmpty())
        state.error = text;
}

void FlashBatch::processEnded(int exitCode, QProcess::ExitStatus status)
{
    readOutput();
    const bool clean = status == QProcess::NormalExit && exitCode == 0;
    for (const Device &device : m_devices) {
        State &state = m_states[device.address];
        if (state.done)
            continue;
        state.done = true;
        QString error = state.error;
        // Several devices: one device's failure makes the exit status non-zero
        // for all, so a device that reached 100% without an error is done.
        const bool flashed = error.isEmpty() && (clean || (m_devices.size() > 1 && state.percent == 100));
        if (!flashed && error.isEmpty())
            error = status == QProcess::NormalExit ? QStringLiteral("eflash.exe ended with status %1").arg(exitCode)
                                                   : QStringLiteral("eflash.exe stopped abnormally");
        emit deviceDone(device.address, flashed ? QString() : error);
    }
    emit finished();
}

void FlashBatch::failAll(const QString &error)
{
    for (const Device &device : m_devices) {
        State &state = m_states[device.address];
        if (!state.done) {
            state.done = true;
            emit deviceDone(device.address, error);
        }
    }
    emit finished();
}
