#include "fleetupdate.h"

#include "consoleoutput.h"
#include "deviceconversation.h"
#include "deviceverifier.h"
#include "ipv4text.h"
#include "openfilebudget.h"
#include "progressview.h"
#include "toollocator.h"
#include "updateplan.h"

#include "flash/flashhistory.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int probeWindowMs = 3000;

} // namespace

struct FleetUpdate::Device
{
    DeviceFinding finding;
    QString address;
    const ImageCatalog::Image *image = nullptr;
    QElapsedTimer clock;
    QDateTime flashStart;
    std::unique_ptr<DeviceConversation> uploader;
    std::unique_ptr<DeviceVerifier> verifier;
    bool codeUploaded = false;
    int codeStatus = 0;
    bool flashStarted = false;
    bool done = false;
};

FleetUpdate::FleetUpdate(const FleetOptions &options, ProbeEngine *engine, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_engine(engine)
{
    // Each device in flight holds a worker's sockets, like a scanned one.
    m_options.parallel = devicesInFlightLimit(m_options.parallel);
}

FleetUpdate::~FleetUpdate() = default;

bool FleetUpdate::prepareImages(QString *error)
{
    if (!m_stagingFolder.isValid()) {
        *error = QStringLiteral("cannot create a staging folder: %1").arg(m_stagingFolder.errorString());
        return false;
    }
    if (!m_images.load(m_options.imagesDir, m_stagingFolder.path(), error))
        return false;
    for (const QString &ignored : m_images.ignored())
        printError(QStringLiteral("zudiruv-fleet: ignoring %1: it carries no Velquor trailer\n").arg(ignored));
    if (!m_options.dryRun) {
        const LocatedTool flasher = locateTool(QStringLiteral("eflash.exe"));
        if (flasher.path.isEmpty()) {
            *error = flasher.error;
            return false;
        }
        m_flasher = flasher.path;
    }
    return true;
}

void FleetUpdate::start(const QVector<DeviceFinding> &findings)
{
    auto adopt = [this](const UpdatePlan::Device &planned) {
        auto device = std::make_unique<Device>();
        device->finding = planned.finding;
        device->address = formatIpv4(planned.finding.address);
        device->image = planned.image;
        device->clock.start();
        Device *raw = device.get();
        m_devices.push_back(std::move(device));
        return raw;
    };

    UpdatePlan plan(findings, m_images);
    for (const QString &line : plan.matchLines())
        printOut(line + QLatin1Char('\n'));
    // Those that cannot be updated are told before the question.
    const int settledFirst = plan.settled().size();
    for (const UpdatePlan::Device &settled : plan.settled())
        finishDevice(adopt(settled), settled.result, settled.error);
    const int candidates = plan.toUpdate().size();
    if (m_options.dryRun) {
        plan.skipAll(QStringLiteral("dry run"));
        printOut(QStringLiteral("Dry run: %1 device%2 would be updated; nothing sent.\n")
                     .arg(candidates).arg(QLatin1String(candidates == 1 ? "" : "s")));
    } else if (candidates > 0 && !m_options.yes && !askYesNo(plan.question())) {
        plan.skipAll(QStringLiteral("not confirmed"));
        printOut(QStringLiteral("Nothing sent.\n"));
    }
    for (int at = settledFirst; at < plan.settled().size(); ++at)
        finishDevice(adopt(plan.settled().at(at)), plan.settled().at(at).result, plan.settled().at(at).error);
    for (const UpdatePlan::Device &planned : plan.toUpdate())
        m_queue.append(adopt(planned));
    if (!m_queue.isEmpty()) {
        m_view = new ProgressView(outputIsTerminal(), m_queue.size(), this);
        pump();
    }
    finishIfIdle();
}

void FleetUpdate::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_queue.clear();
    m_waitingForFlash.clear();
    for (const std::unique_ptr<Device> &held : m_devices) {
        Device *device = held.get();
        if (device->done || device->flashStarted)
            continue;
        if (device->uploader) {
            // Activated, but nothing sent yet.
            --m_active;
            device->uploader.reset();
        }
        finishDevice(device, FleetResult::Skipped, QStringLiteral("interrupted before it was started"));
        if (m_view)
            m_view->finishDevice(device->address, fleetResultText(FleetResult::Skipped) + QStringLiteral(" (interrupted)"), false);
    }
    finishIfIdle();
}

void FleetUpdate::pump()
{
    while (!m_stopping && !m_queue.isEmpty() && m_active < m_options.parallel) {
        Device *device = m_queue.takeFirst();
        ++m_active;
        device->clock.restart();
        device->uploader = std::make_unique<DeviceConversation>(m_engine, device->finding.address, probeWindowMs);
        m_waitingForFlash.append(device);
        m_view->setStage(device->address, device->finding.deviceText, QStringLiteral("waiting"));
    }
    startFlashIfIdle();
}

void FleetUpdate::startFlashIfIdle()
{
    if (m_batch || !m_preparing.isEmpty() || m_waitingForFlash.isEmpty() || m_stopping)
        return;
    QStringList macsInRun;
    for (int at = 0; at < m_waitingForFlash.size();) {
        Device *device = m_waitingForFlash.at(at);
        const QString mac = device->finding.mac.toLower().replace(QLatin1Char('-'), QLatin1Char(':'));
        if (macsInRun.contains(mac)) {
            // The flasher answers boot loaders by MAC: one run, one device per MAC.
            ++at;
            continue;
        }
        m_waitingForFlash.removeAt(at);
        if (mac.isEmpty()) {
            --m_active;
            device->uploader.reset();
            finishDevice(device, FleetResult::FlashFailed, QStringLiteral("no MAC address: arpping.exe had no answer"));
            m_view->finishDevice(device->address, fleetResultText(FleetResult::FlashFailed) + QStringLiteral(": no MAC address"), false);
            continue;
        }
        macsInRun.append(mac);
        device->flashStarted = true;
        m_preparing.append(device);
    }
    if (m_preparing.isEmpty()) {
        pump();
        finishIfIdle();
        return;
    }
    // As the screen does, the code goes out before the flasher starts; but
    // the flasher waits for the upload to end, since the magic packet takes
    // the device's web interface away. Its outcome changes nothing, as on
    // the screen.
    m_uploadsPending = 0;
    for (Device *device : m_preparing) {
        if (device->finding.updateCode.isEmpty())
            continue;
        ++m_uploadsPending;
        device->codeUploaded = true;
        m_view->setStage(device->address, device->finding.deviceText, QStringLiteral("uploading"));
        connect(device->uploader.get(), &DeviceConversation::uploaded, this, [this, device](int status) {
            device->codeStatus = std::max(0, status);
            if (--m_uploadsPending == 0)
                launchBatch();
        });
        device->uploader->upload(device->finding.password, device->finding.updateCode);
    }
    if (m_uploadsPending == 0)
        launchBatch();
}

void FleetUpdate::launchBatch()
{
    QVector<FlashBatch::Device> batch;
    for (Device *device : m_preparing) {
        batch.append({device->address, device->finding.mac, device->image->stagedPath});
        device->flashStart = QDateTime::currentDateTimeUtc();
        m_view->setStage(device->address, device->finding.deviceText, QStringLiteral("flashing"));
    }
    m_preparing.clear();
    m_batch = new FlashBatch(m_flasher, batch, this);
    connect(m_batch, &FlashBatch::progress, m_view, &ProgressView::setPercent);
    connect(m_batch, &FlashBatch::deviceDone, this, [this](const QString &address, const FlashBatch::Outcome &outcome) {
        if (Device *device = deviceAt(address))
            flashDone(device, outcome);
    });
    connect(m_batch, &FlashBatch::finished, this, [this] {
        m_batch->deleteLater();
        m_batch = nullptr;
        startFlashIfIdle();
        finishIfIdle();
    });
    m_batch->start();
}

void FleetUpdate::flashDone(Device *device, const FlashBatch::Outcome &outcome)
{
    recordFlash(device, outcome);
    switch (outcome.kind) {
    case FlashBatch::Outcome::Kind::Flashed:
        verify(device, QString());
        return;
    case FlashBatch::Outcome::Kind::Unconfirmed:
        // Only the device's answer can tell whether the last block landed.
        verify(device, outcome.error);
        return;
    case FlashBatch::Outcome::Kind::Failed:
        break;
    }
    --m_active;
    finishDevice(device, FleetResult::FlashFailed, outcome.error);
    m_view->finishDevice(device->address, fleetResultText(FleetResult::FlashFailed) + QStringLiteral(": ") + outcome.error, false);
    pump();
}

void FleetUpdate::recordFlash(const Device *device, const FlashBatch::Outcome &outcome)
{
    FlashRecord record;
    record.time = device->flashStart;
    record.tool = QStringLiteral("zudiruv-fleet");
    record.address = device->address;
    record.mac = device->finding.mac;
    record.kind = device->finding.deviceText;
    record.letter = device->finding.letter;
    record.image = device->image->fileName;
    record.imageSha256 = device->image->sha256;
    record.codeUploaded = device->codeUploaded;
    record.codeStatus = device->codeStatus;
    record.result = outcome.kind == FlashBatch::Outcome::Kind::Flashed ? QStringLiteral("complete") : QStringLiteral("failed");
    record.exitStatus = outcome.exitStatus;
    record.errors = outcome.errors;
    QString error;
    if (!FlashHistory::append(QDir::currentPath(), record, &error))
        printError(QStringLiteral("zudiruv-fleet: %1 not recorded in the history: %2\n").arg(device->address, error));
}

void FleetUpdate::verify(Device *device, const QString &unconfirmedLine)
{
    m_view->setStage(device->address, device->finding.deviceText, QStringLiteral("verifying"));
    device->verifier = std::make_unique<DeviceVerifier>(m_engine, device->finding.address, device->finding.password,
                                                        device->finding.letter, m_options.verifySeconds);
    connect(device->verifier.get(), &DeviceVerifier::done, this, [this, device, unconfirmedLine](const QString &verifyError) {
        --m_active;
        if (verifyError.isEmpty()) {
            const QString note = unconfirmedLine.isEmpty()
                ? QString()
                : QStringLiteral("the last block's acknowledgement never came, but the device came back with its kind");
            finishDevice(device, FleetResult::Updated, QString(), note);
            m_view->finishDevice(device->address,
                                 fleetResultText(FleetResult::Updated) + QStringLiteral(" (%1 s)%2").arg(device->clock.elapsed() / 1000.0, 0, 'f', 1)
                                     .arg(note.isEmpty() ? QString() : QStringLiteral("; ") + note), true);
        } else if (!unconfirmedLine.isEmpty()) {
            const QString error = QStringLiteral("%1; then it %2").arg(unconfirmedLine, verifyError);
            finishDevice(device, FleetResult::FlashFailed, error);
            m_view->finishDevice(device->address, fleetResultText(FleetResult::FlashFailed) + QStringLiteral(": ") + error, false);
        } else {
            finishDevice(device, FleetResult::NotBack, verifyError);
            m_view->finishDevice(device->address, fleetResultText(FleetResult::NotBack) + QStringLiteral(": ") + verifyError, false);
        }
        pump();
        finishIfIdle();
    });
    device->verifier->start();
}

void FleetUpdate::finishDevice(Device *device, FleetResult result, const QString &error, const QString &note)
{
    device->done = true;
    FleetReport::Entry entry;
    entry.device = device->finding;
    if (device->image) {
        entry.image = device->image->fileName;
        entry.imageSha256 = device->image->sha256;
    }
    entry.result = result;
    entry.error = error;
    entry.note = note;
    entry.seconds = device->clock.elapsed() / 1000.0;
    m_entries.append(entry);
    if (!m_view && result != FleetResult::Skipped)
        printOut(QStringLiteral("%1 %2: %3\n").arg(device->address, fleetResultText(result), error));
    // Its worker goes once nothing more can be on its way.
    if (device->uploader && result != FleetResult::Skipped)
        QTimer::singleShot(0, this, [device] { device->uploader.reset(); device->verifier.reset(); });
}

void FleetUpdate::finishIfIdle()
{
    if (m_finished || m_active > 0 || m_batch || !m_preparing.isEmpty() || (!m_queue.isEmpty() && !m_stopping))
        return;
    m_finished = true;
    if (m_view)
        m_view->close();
    const int updated = int(std::count_if(m_entries.cbegin(), m_entries.cend(), [](const FleetReport::Entry &entry) {
        return entry.result == FleetResult::Updated;
    }));
    const bool dryRunComplete = m_options.dryRun && std::all_of(m_entries.cbegin(), m_entries.cend(),
        [](const FleetReport::Entry &entry) { return entry.result == FleetResult::Skipped; });
    if (!m_options.dryRun)
        printOut(QStringLiteral("Updated %1 of %2 Velquor devices.\n").arg(updated).arg(m_entries.size()));
    const int exitCode = updated == m_entries.size() || dryRunComplete ? 0 : 1;
    QTimer::singleShot(0, this, [this, exitCode] { emit finished(exitCode); });
}

FleetUpdate::Device *FleetUpdate::deviceAt(const QString &address)
{
    for (const std::unique_ptr<Device> &device : m_devices) {
        if (device->address == address && !device->done)
            return device.get();
    }
    return nullptr;
}
