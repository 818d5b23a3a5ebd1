#pragma once

#include "devicefinding.h"
#include "flashbatch.h"
#include "fleetresult.h"
#include "fleetoptions.h"
#include "fleetreport.h"
#include "imagecatalog.h"

#include <QObject>
#include <QTemporaryDir>
#include <QVector>

#include <memory>
#include <vector>

class ProbeEngine;
class ProgressView;

// Updates the devices a scan found: matches each to its image, asks for
// confirmation, then per device uploads the update code, flashes and waits
// for it to answer again, at most --parallel devices at a time.
class FleetUpdate : public QObject
{
    Q_OBJECT

public:
    FleetUpdate(const FleetOptions &options, ProbeEngine *engine, QObject *parent = nullptr);
    ~FleetUpdate() override;

    // Before anything is sent: stages the images and finds the flasher.
    bool prepareImages(QString *error);
    void start(const QVector<DeviceFinding> &findings);
    // Starts no further device; those in flight end within their bounded waits.
    void stop();

    const QVector<FleetReport::Entry> &entries() const { return m_entries; }

signals:
    void finished(int exitCode);

private:
    struct Device;

    void pump();
    void startFlashIfIdle();
    void launchBatch();
    void flashDone(Device *device, const FlashBatch::Outcome &outcome);
    void recordFlash(const Device *device, const FlashBatch::Outcome &outcome);
    void verify(Device *device, const QString &unconfirmedLine);
    void finishDevice(Device *device, FleetResult result, const QString &error, const QString &note = QString());
    void finishIfIdle();
    Device *deviceAt(const QString &address);

    FleetOptions m_options;
    ProbeEngine *m_engine;
    QTemporaryDir m_stagingFolder;
    ImageCatalog m_images;
    QString m_flasher;
    // One eflash.exe at a time, as it holds UDP ports 67 and 69; each run
    // gets every device waiting when it starts.
    std::vector<std::unique_ptr<Device>> m_devices;
    QVector<Device *> m_queue;
    QVector<Device *> m_waitingForFlash;
    // The next flasher run's devices, while their update codes go out.
    QVector<Device *> m_preparing;
    int m_uploadsPending = 0;
    int m_active = 0;
    FlashBatch *m_batch = nullptr;
    ProgressView *m_view = nullptr;
    QVector<FleetReport::Entry> m_entries;
    bool m_stopping = false;
    bool m_finished = false;
};
