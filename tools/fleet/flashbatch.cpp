#include "flashbatch.h"

#include "toollocator.h"

#include "flash/flasheroutputline.h"

#include <QTimer>

namespace {

// eflash.exe gives up by itself within 15 minutes; this only guards
// against a flasher that hangs.
constexpr int longestRunMs = 20 * 60 * 1000;

} // namespace

FlashBatch::FlashBatch(const QString &flasher, const QVector<Device> &devices, QObject *parent)
    : QObject(parent)
    , m_flasher(flasher)
    , m_devices(devices)
{
    qRegisterMetaType<FlashBatch::Outcome>();
    for (const Device &device : devices)
        m_states.insert(device.address, State());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setProcessEnvironment(toolEnvironment());
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
    const bool several = m_devices.size() > 1;
    while (m_process.canReadLine()) {
        const QByteArray raw = m_process.readLine();
        FlasherOutputLine line = several ? FlasherOutputLine::readForDevice(raw) : FlasherOutputLine::read(raw);
        if (!several)
            line.address = m_devices.first().address;
        const auto state = m_states.find(line.address);
        if (state == m_states.end())
            continue;
        if (line.hasProgress) {
            const int percent = qBound(0, line.percent, 100);
            if (percent != state->percent) {
                state->percent = percent;
                emit progress(line.address, percent);
            }
        }
        if (line.isError) {
            state->errors.append(line.text);
            state->unconfirmed = state->unconfirmed || line.isUnconfirmed;
        }
    }
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
        Outcome outcome;
        outcome.errors = state.errors;
        outcome.exitStatus = status == QProcess::NormalExit ? exitCode : -1;
        // Several devices: one device's failure makes the exit status
        // non-zero for all, so a device that reached 100% without an error
        // is done.
        const bool flashed = state.errors.isEmpty() && (clean || (m_devices.size() > 1 && state.percent == 100));
        const bool onlyUnconfirmed = state.unconfirmed && state.errors.size() == 1 && status == QProcess::NormalExit;
        if (flashed) {
            outcome.kind = Outcome::Kind::Flashed;
        } else if (onlyUnconfirmed) {
            outcome.kind = Outcome::Kind::Unconfirmed;
            outcome.error = state.errors.first();
        } else {
            outcome.kind = Outcome::Kind::Failed;
            outcome.error = !state.errors.isEmpty()            ? state.errors.first()
                          : status == QProcess::NormalExit ? QStringLiteral("eflash.exe ended with status %1").arg(exitCode)
                                                           : QStringLiteral("eflash.exe stopped abnormally");
        }
        emit deviceDone(device.address, outcome);
    }
    emit finished();
}

void FlashBatch::failAll(const QString &error)
{
    for (const Device &device : m_devices) {
        State &state = m_states[device.address];
        if (!state.done) {
            state.done = true;
            Outcome outcome;
            outcome.error = error;
            emit deviceDone(device.address, outcome);
        }
    }
    emit finished();
}
