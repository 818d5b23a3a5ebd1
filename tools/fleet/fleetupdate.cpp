#include "fleetupdate.h"

#include "consoleoutput.h"
#include "deviceconversation.h"
#include "deviceverifier.h"
#include "flashbatch.h"
#include "ipv4text.h"
#include "openfilebudget.h"
#include "progressview.h"
#include "toollocator.h"

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
    std::unique_ptr<DeviceConversation> uploader;
    std::unique_ptr<DeviceVerifier> verifier;
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
        m_flasher = locateTool(QStringLiteral("eflash.exe"));
        if (m_flasher.isEmpty()) {
            *error = QStringLiteral("eflash.exe not found in the working directory or next to the program");
            return false;
        }
        m_devicesPerFlasherRun = FlashBatch::devicesPerRun(m_flasher, m_options.parallel);
    }
    return true;
}

void FleetUpdate::start(const QVector<DeviceFinding> &findings)
{
    QVector<Device *> candidates;
    for (const DeviceFinding &finding : findings) {
        auto device = std::make_unique<Device>();
        device->finding = finding;
        device->address = formatIpv4(finding.address);
        device->clock.start();
        Device *raw = device.get();
        m_devices.push_back(std::move(device));
        switch (finding.state) {
        case DeviceFinding::State::WantsPassword:
            finishDevice(raw, QStringLiteral("wants-password"),
                         finding.givenPassword ? QStringLiteral("the device refused the given password")
                                               : QStringLiteral("the device refused the default password"));
            continue;
        case DeviceFinding::State::KindUnknown:
            finishDevice(raw, QStringLiteral("kind-unknown"), QStringLiteral("kind or generation could not be determined"));
            continue;
        case DeviceFinding::State::Found:
            break;
        }
        raw->image = m_images.forLetter(finding.letter);
        if (!raw->image) {
            finishDevice(raw, QStringLiteral("no-image"),
                         QStringLiteral("no image for kind %1 (letter %2)").arg(finding.deviceText, finding.letter));
            continue;
        }
        printOut(QStringLiteral("%1 %2 (letter %3): %4\n")
                     .arg(raw->address, finding.deviceText, finding.letter, raw->image->fileName));
        candidates.append(raw);
    }

    if (m_options.dryRun) {
        for (Device *device : candidates)
            finishDevice(device, QStringLiteral("skipped"), QStringLiteral("dry run"));
        printOut(QStringLiteral("Dry run: %1 device%2 would be updated; nothing sent.\n")
                     .arg(candidates.size()).arg(QLatin1String(candidates.size() == 1 ? "" : "s")));
        finishIfIdle();
        return;
    }
    if (!candidates.isEmpty() && !m_options.yes
        && !askYesNo(QStringLiteral("Update %1 device%2?").arg(candidates.size())
                         .arg(QLatin1String(candidates.size() == 1 ? "" : "s")))) {
        for (Device *device : candidates)
            finishDevice(device, QStringLiteral("skipped"), QStringLiteral("not confirmed"));
        printOut(QStringLiteral("Nothing sent.\n"));
        finishIfIdle();
        return;
    }
    m_queue = candidates;
    m_view = new ProgressView(outputIsTerminal(), candidates.size(), this);
    pump();
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
        finishDevice(device, QStringLiteral("skipped"), QStringLiteral("interrupted before it was started"));
        if (m_view)
            m_view->finishDevice(device->address, QStringLiteral("skipped (interrupted)"), false);
    }
    finishIfIdle();
}

void FleetUpdate::pump()
{
    while (!m_stopping && !m_queue.isEmpty() && m_active < m_options.parallel) {
        Device *device = m_queue.takeFirst();
        ++m_active;
        device->clock.restart();
        device->uploader = std::make_unique<DeviceConversation>(m_engine, device->address, probeWindowMs);
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
    for (int at = 0; at < m_waitingForFlash.size() && m_preparing.size() < m_devicesPerFlasherRun;) {
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
            finishDevice(device, QStringLiteral("flash-failed"), QStringLiteral("no MAC address: arpping.exe had no answer"));
            m_view->finishDevice(device->address, QStringLiteral("flash-failed: no MAC address"), false);
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
        m_view->setStage(device->address, device->finding.deviceText, QStringLiteral("uploading"));
        connect(device->uploader.get(), &DeviceConversation::uploaded, this, [this] {
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
        m_view->setStage(device->address, device->finding.deviceText, QStringLiteral("flashing"));
    }
    m_preparing.clear();
    m_batch = new FlashBatch(m_flasher, batch, this);
    connect(m_batch, &FlashBatch::progress, m_view, &ProgressView::setPercent);
    connect(m_batch, &FlashBatch::deviceDone, this, [this](const QString &address, const QString &error) {
        if (Device *device = deviceAt(address))
            flashDone(device, error);
    });
    connect(m_batch, &FlashBatch::finished, this, [this] {
        m_batch->deleteLater();
        m_batch = nullptr;
        startFlashIfIdle();
        finishIfIdle();
    });
    m_batch->start();
}

void FleetUpdate::flashDone(Device *device, const QString &error)
{
    if (!error.isEmpty()) {
        --m_active;
        finishDevice(device, QStringLiteral("flash-failed"), error);
        m_view->finishDevice(device->address, QStringLiteral("flash-failed: %1").arg(error), false);
        pump();
        return;
    }
    m_view->setStage(device->address, device->finding.deviceText, QStringLiteral("verifying"));
    device->verifier = std::make_unique<DeviceVerifier>(m_engine, device->address, device->finding.password,
                                                        device->finding.letter, m_options.verifySeconds);
    connect(device->verifier.get(), &DeviceVerifier::done, this, [this, device](const QString &verifyError) {
        --m_active;
        if (verifyError.isEmpty()) {
            finishDevice(device, QStringLiteral("updated"), QString());
            m_view->finishDevice(device->address,
                                 QStringLiteral("updated (%1 s)").arg(device->clock.elapsed() / 1000.0, 0, 'f', 1), true);
        } else {
            finishDevice(device, QStringLiteral("not-back"), verifyError);
            m_view->finishDevice(device->address, QStringLiteral("not-back: %1").arg(verifyError), false);
        }
        pump();
        finishIfIdle();
    });
    device->verifier->start();
}

void FleetUpdate::finishDevice(Device *device, const QString &result, const QString &error)
{
    device->done = true;
    FleetReport::Entry entry;
    entry.address = device->address;
    entry.mac = device->finding.mac;
    entry.kind = device->finding.kindName;
    entry.generation = device->finding.generation;
    entry.letter = device->finding.letter;
    if (device->image) {
        entry.image = device->image->fileName;
        entry.imageSha256 = device->image->sha256;
    }
    entry.result = result;
    entry.error = error;
    entry.seconds = device->clock.elapsed() / 1000.0;
    m_entries.append(entry);
    if (!m_view && result != QLatin1String("skipped"))
        printOut(QStringLiteral("%1 %2: %3\n").arg(device->address, result, error));
    // Its worker goes once nothing more can be on its way.
    if (device->uploader && result != QLatin1String("skipped"))
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
        return entry.result == QLatin1String("updated");
    }));
    const bool dryRunComplete = m_options.dryRun && std::all_of(m_entries.cbegin(), m_entries.cend(),
        [](const FleetReport::Entry &entry) { return entry.result == QLatin1String("skipped"); });
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

