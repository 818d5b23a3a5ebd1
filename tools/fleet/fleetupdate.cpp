#include "fleetupdate.h"

#include "consoleoutput.h"
#include "deviceconversation.h"
#include "deviceverifier.h"
#include "ipv4text.h"
#include "openfilebudget.h"
#include "progressview.h"
#include "segmentcheck.h"
#include "toollocator.h"

#include "flash/flashhistory.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace {

QString plural(int count, const char *word)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(word)).arg(QLatin1String(count == 1 ? "" : "s"));
}

} // namespace

struct FleetUpdate::Device
{
    UpdatePlan::Device planned;
    QString address;
    Stage stage = Stage::Queued;
    int flashes = 0;
    // The last flash's "ERROR: unconfirmed:" line; empty after a confirmed one.
    QString unconfirmedLine;
    QElapsedTimer clock;
    QDateTime flashStart;
    std::unique_ptr<DeviceConversation> uploader;
    std::unique_ptr<DeviceVerifier> verifier;
    bool codeUploaded = false;
    int codeStatus = 0;
};

FleetUpdate::FleetUpdate(const FleetOptions &options, ProbeEngine *engine, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_engine(engine)
{
    // Each device in flight holds a worker's sockets, like a scanned one.
    m_options.parallel = devicesInFlightLimit(m_options.parallel);
    m_historyPath = m_options.historyFile.isEmpty() ? QDir::current().filePath(QLatin1String(FlashHistory::fileName))
                                                    : m_options.historyFile;
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
    if (!m_history.load(m_historyPath, error))
        return false;
    if (m_history.unreadableLines() > 0)
        printError(QStringLiteral("zudiruv-fleet: skipping %1 in %2\n")
                       .arg(plural(m_history.unreadableLines(), "unreadable line"), m_historyPath));
    if (!m_options.dryRun) {
        // Without its history a resumed run could not tell what is current.
        const QString historyFolder = QFileInfo(m_historyPath).absolutePath();
        if (!QFileInfo(historyFolder).isDir()) {
            *error = QStringLiteral("the history's folder %1 does not exist").arg(historyFolder);
            return false;
        }
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
        device->planned = planned;
        device->address = formatIpv4(planned.finding.address);
        device->clock.start();
        Device *raw = device.get();
        m_devices.push_back(std::move(device));
        return raw;
    };

    UpdatePlan::Rules rules;
    rules.history = &m_history;
    rules.reinstall = m_options.reinstall;
    rules.canaries = m_options.canary;
    rules.offSegment = offSegmentReason;
    UpdatePlan plan(findings, m_images, rules);
    for (const QString &line : plan.lines())
        printOut(line + QLatin1Char('\n'));
    const int candidates = plan.toUpdate().size();
    if (m_options.dryRun) {
        plan.skipAll(QStringLiteral("dry run"));
        printOut(QStringLiteral("Dry run: %1 would be flashed; nothing sent.\n").arg(plural(candidates, "device")));
    } else if (candidates > 0 && !m_options.yes && !askYesNo(plan.question())) {
        plan.skipAll(QStringLiteral("not confirmed"));
        printOut(QStringLiteral("Nothing sent.\n"));
    }
    for (const UpdatePlan::Device &settled : plan.settled())
        conclude(adopt(settled), settled.result, settled.error, settled.note);
    for (const UpdatePlan::Device &planned : plan.toUpdate())
        m_queue.append(adopt(planned));
    m_failureBudget = failureBudget(m_options, m_queue.size());
    if (!m_queue.isEmpty()) {
        m_view = new ProgressView(outputIsTerminal(), m_queue.size(), this);
        pump();
    }
    finishIfIdle();
}

void FleetUpdate::stop()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    for (const std::unique_ptr<Device> &held : m_devices) {
        Device *device = held.get();
        if (device->stage == Stage::Queued || (device->stage == Stage::Waiting && device->flashes == 0)) {
            device->uploader.reset();
            conclude(device, FleetResult::Skipped, QStringLiteral("interrupted before it was started"));
        } else if (device->stage == Stage::Waiting) {
            conclude(device, FleetResult::Unconfirmed,
                     QStringLiteral("%1; interrupted before it was flashed again").arg(device->unconfirmedLine));
        }
    }
    m_queue.clear();
    m_waiting.clear();
    finishIfIdle();
}

void FleetUpdate::setStage(Device *device, Stage stage)
{
    device->stage = stage;
    if (!m_view)
        return;
    const bool again = device->flashes > 0 && stage != Stage::Verifying;
    const char *text = nullptr;
    switch (stage) {
    case Stage::Waiting: text = "waiting"; break;
    case Stage::Uploading: text = "uploading"; break;
    case Stage::Flashing: text = again ? "flashing again" : "flashing"; break;
    case Stage::Verifying: text = "verifying"; break;
    case Stage::Queued:
    case Stage::Done:
        return;
    }
    m_view->setStage(device->address, device->planned.finding.deviceText, QLatin1String(text));
}

int FleetUpdate::inFlight() const
{
    return int(std::count_if(m_devices.cbegin(), m_devices.cend(), [](const std::unique_ptr<Device> &device) {
        return device->stage != Stage::Queued && device->stage != Stage::Done;
    }));
}

bool FleetUpdate::canariesPending() const
{
    return std::any_of(m_devices.cbegin(), m_devices.cend(), [](const std::unique_ptr<Device> &device) {
        return device->planned.canary && device->stage != Stage::Done;
    });
}

void FleetUpdate::pump()
{
    while (!m_interrupted && m_haltReason.isEmpty() && !m_queue.isEmpty() && inFlight() < m_options.parallel) {
        Device *device = m_queue.first();
        // The canaries, first in the queue, go alone.
        if (!device->planned.canary && canariesPending())
            break;
        m_queue.removeFirst();
        device->clock.restart();
        device->uploader = std::make_unique<DeviceConversation>(m_engine, device->planned.finding.address, DeviceConversation::probeWindowMs);
        m_waiting.append(device);
        setStage(device, Stage::Waiting);
    }
    startFlashIfIdle();
    finishIfIdle();
}

void FleetUpdate::startFlashIfIdle()
{
    if (m_batch || !m_preparing.isEmpty() || m_waiting.isEmpty())
        return;
    QStringList macsInRun;
    for (int at = 0; at < m_waiting.size();) {
        Device *device = m_waiting.at(at);
        const QString mac = device->planned.finding.mac.toLower().replace(QLatin1Char('-'), QLatin1Char(':'));
        if (macsInRun.contains(mac)) {
            // The flasher answers boot loaders by MAC: one run, one device per MAC.
            ++at;
            continue;
        }
        m_waiting.removeAt(at);
        macsInRun.append(mac);
        m_preparing.append(device);
    }
    // As the screen does, the code goes out before the flasher starts; but
    // the flasher waits for the upload to end, since the magic packet takes
    // the device's web interface away. Its outcome changes nothing, as on
    // the screen.
    m_uploadsPending = 0;
    for (Device *device : qAsConst(m_preparing)) {
        setStage(device, Stage::Uploading);
        if (device->planned.finding.updateCode.isEmpty())
            continue;
        ++m_uploadsPending;
        device->codeUploaded = true;
        connect(device->uploader.get(), &DeviceConversation::uploaded, this, [this, device](int status) {
            device->codeStatus = std::max(0, status);
            if (--m_uploadsPending == 0)
                launchBatch();
        });
        device->uploader->upload(device->planned.finding.password, device->planned.finding.updateCode);
    }
    if (m_uploadsPending == 0)
        launchBatch();
}

void FleetUpdate::launchBatch()
{
    QVector<FlashBatch::Device> batch;
    for (Device *device : qAsConst(m_preparing)) {
        batch.append({device->address, device->planned.finding.mac, device->planned.image->stagedPath});
        device->flashStart = QDateTime::currentDateTimeUtc();
        setStage(device, Stage::Flashing);
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
    ++device->flashes;
    recordFlash(device, outcome);
    switch (outcome.kind) {
    case FlashBatch::Outcome::Kind::Flashed:
        device->unconfirmedLine.clear();
        verify(device);
        return;
    case FlashBatch::Outcome::Kind::Unconfirmed:
        // The device may have dropped the image and started its old
        // firmware, which answers with the same kind: only a confirmed flash
        // proves it. It is checked back, then flashed once more.
        device->unconfirmedLine = outcome.error;
        verify(device);
        return;
    case FlashBatch::Outcome::Kind::Failed:
        break;
    }
    finishDevice(device, FleetResult::FlashFailed, outcome.error);
}

void FleetUpdate::recordFlash(const Device *device, const FlashBatch::Outcome &outcome)
{
    FlashRecord record;
    record.time = device->flashStart;
    record.tool = QStringLiteral("zudiruv-fleet");
    record.address = device->address;
    record.mac = device->planned.finding.mac;
    record.kind = device->planned.finding.deviceText;
    record.letter = device->planned.finding.letter;
    record.image = device->planned.image->fileName;
    record.imageSha256 = device->planned.image->sha256;
    record.codeUploaded = device->codeUploaded;
    record.codeStatus = device->codeStatus;
    record.result = outcome.kind == FlashBatch::Outcome::Kind::Flashed     ? QStringLiteral("complete")
                  : outcome.kind == FlashBatch::Outcome::Kind::Unconfirmed ? QStringLiteral("unconfirmed")
                                                                           : QStringLiteral("failed");
    record.exitStatus = outcome.exitStatus;
    record.errors = outcome.errors;
    QString error;
    if (!FlashHistory::appendToFile(m_historyPath, record, &error))
        printError(QStringLiteral("zudiruv-fleet: %1 not recorded in the history: %2\n").arg(device->address, error));
}

void FleetUpdate::verify(Device *device)
{
    setStage(device, Stage::Verifying);
    const DeviceFinding &finding = device->planned.finding;
    device->verifier = std::make_unique<DeviceVerifier>(m_engine, finding.address, finding.password, finding.letter,
                                                        m_options.verifySeconds);
    connect(device->verifier.get(), &DeviceVerifier::done, this,
            [this, device](const QString &error) { verified(device, error); });
    device->verifier->start();
}

void FleetUpdate::verified(Device *device, const QString &error)
{
    const QString &unconfirmed = device->unconfirmedLine;
    if (unconfirmed.isEmpty()) {
        if (error.isEmpty())
            finishDevice(device, FleetResult::Updated, QString());
        else
            finishDevice(device, FleetResult::NotBack, error);
        return;
    }
    if (!error.isEmpty()) {
        finishDevice(device, device->flashes == 1 ? FleetResult::FlashFailed : FleetResult::NotBack,
                     QStringLiteral("%1; then it %2").arg(unconfirmed, error));
        return;
    }
    if (device->flashes > 1) {
        finishDevice(device, FleetResult::Unconfirmed,
                     QStringLiteral("%1, twice; it answers with its kind, which does not tell which image it runs: "
                                    "run the update again, and if it stays unconfirmed check its link and its "
                                    "firmware on site").arg(unconfirmed));
        return;
    }
    if (m_interrupted) {
        finishDevice(device, FleetResult::Unconfirmed,
                     QStringLiteral("%1; interrupted before it was flashed again").arg(unconfirmed));
        return;
    }
    // Back from its reboot with a new update page: its code for the second flash.
    device->planned.finding.updateCode = device->verifier->answer().updateCode;
    device->codeUploaded = false;
    device->codeStatus = 0;
    QTimer::singleShot(0, this, [this, device] {
        device->verifier.reset();
        device->uploader = std::make_unique<DeviceConversation>(m_engine, device->planned.finding.address, DeviceConversation::probeWindowMs);
        m_waiting.append(device);
        setStage(device, Stage::Waiting);
        startFlashIfIdle();
    });
}

void FleetUpdate::finishDevice(Device *device, FleetResult result, const QString &error, const QString &note)
{
    conclude(device, result, error, note);
    if (isFleetFailure(result)) {
        ++m_failures;
        if (device->planned.canary) {
            halt(QStringLiteral("the canary %1 was not updated").arg(device->address));
        } else if (m_failures > m_failureBudget) {
            halt(QStringLiteral("%1 failed, more than the %2 allowed (--max-failures %3%4)")
                     .arg(plural(m_failures, "device")).arg(m_failureBudget).arg(m_options.maxFailures)
                     .arg(QLatin1String(m_options.maxFailuresIsPercent ? "%" : "")));
        }
    }
    pump();
}

void FleetUpdate::conclude(Device *device, FleetResult result, const QString &error, const QString &note)
{
    const bool started = device->stage != Stage::Queued;
    device->stage = Stage::Done;
    FleetReport::Entry entry;
    entry.device = device->planned.finding;
    if (device->planned.image) {
        entry.image = device->planned.image->fileName;
        entry.imageSha256 = device->planned.image->sha256;
    }
    entry.result = result;
    entry.error = error;
    entry.note = note;
    entry.seconds = started ? device->clock.elapsed() / 1000.0 : 0;
    m_entries.append(entry);
    if (m_view) {
        QString text = fleetResultText(result);
        if (result == FleetResult::Updated)
            text += QStringLiteral(" (%1 s)").arg(entry.seconds, 0, 'f', 1);
        else if (!error.isEmpty())
            text += QStringLiteral(": ") + error;
        m_view->finishDevice(device->address, text, result == FleetResult::Updated);
    }
    // Its worker goes once nothing more can be on its way.
    QTimer::singleShot(0, this, [device] {
        device->uploader.reset();
        device->verifier.reset();
    });
}

void FleetUpdate::halt(const QString &reason)
{
    if (!m_haltReason.isEmpty())
        return;
    m_haltReason = reason;
    const QString why = QStringLiteral("stopped: %1").arg(reason);
    for (Device *device : qAsConst(m_queue))
        conclude(device, FleetResult::NotStarted, why);
    m_queue.clear();
    // Those waiting for the flasher have had nothing sent; a device waiting
    // for its second flash has started and goes on.
    for (int at = 0; at < m_waiting.size();) {
        Device *device = m_waiting.at(at);
        if (device->flashes > 0) {
            ++at;
            continue;
        }
        m_waiting.removeAt(at);
        conclude(device, FleetResult::NotStarted, why);
    }
}

void FleetUpdate::finishIfIdle()
{
    if (m_finished || inFlight() > 0 || m_batch || !m_queue.isEmpty())
        return;
    m_finished = true;
    if (m_view)
        m_view->close();
    auto count = [this](FleetResult result) {
        return int(std::count_if(m_entries.cbegin(), m_entries.cend(),
                                 [result](const FleetReport::Entry &entry) { return entry.result == result; }));
    };
    if (!m_options.dryRun) {
        QString summary = QStringLiteral("Updated %1 of %2 Velquor devices").arg(count(FleetResult::Updated)).arg(m_entries.size());
        for (const FleetResult result : {FleetResult::Current, FleetResult::Unconfirmed, FleetResult::NotStarted}) {
            if (count(result) > 0)
                summary += QStringLiteral(", %1 %2").arg(count(result)).arg(fleetResultText(result));
        }
        printOut(summary + QStringLiteral(".\n"));
    }
    if (!m_haltReason.isEmpty())
        printOut(QStringLiteral("Stopped: %1; the devices not started are untouched.\n").arg(m_haltReason));
    QTimer::singleShot(0, this, [this] { emit finished(exitCode()); });
}

int FleetUpdate::exitCode() const
{
    int current = 0, done = 0, unconfirmed = 0;
    for (const FleetReport::Entry &entry : m_entries) {
        current += entry.result == FleetResult::Current;
        unconfirmed += entry.result == FleetResult::Unconfirmed;
        done += entry.result == FleetResult::Current
             || entry.result == (m_options.dryRun ? FleetResult::Skipped : FleetResult::Updated);
    }
    const int all = m_entries.size();
    if (all > 0 && current == all)
        return 3;
    if (done == all)
        return 0;
    return done + unconfirmed == all ? 4 : 1;
}

FleetUpdate::Device *FleetUpdate::deviceAt(const QString &address)
{
    for (const std::unique_ptr<Device> &device : m_devices) {
        if (device->address == address && device->stage == Stage::Flashing)
            return device.get();
    }
    return nullptr;
}
