#pragma once

#include "devicefinding.h"
#include "flashbatch.h"
#include "flashedimages.h"
#include "fleetoptions.h"
#include "fleetreport.h"
#include "fleetresult.h"
#include "imagecatalog.h"
#include "updateplan.h"

#include <QObject>
#include <QTemporaryDir>
#include <QVector>

#include <memory>
#include <vector>

class ProbeEngine;
class ProgressView;

// Updates the devices a scan found: plans each device's step, asks for
// confirmation, then per device uploads the update code, flashes and waits
// for it to answer again, at most --parallel devices at a time; the canaries
// first and alone, and no further device once the failure budget is spent.
class FleetUpdate : public QObject
{
    Q_OBJECT

public:
    FleetUpdate(const FleetOptions &options, ProbeEngine *engine, QObject *parent = nullptr);
    ~FleetUpdate() override;

    // Before anything is sent: stages the images, reads the history and
    // finds the flasher.
    bool prepareImages(QString *error);
    void start(const QVector<DeviceFinding> &findings);
    // Ctrl-C: starts no further device; those in flight end within their
    // bounded waits.
    void stop();

    const QVector<FleetReport::Entry> &entries() const { return m_entries; }
    // Why devices were left untouched (canary, failure budget); empty when
    // the run went through.
    QString stopReason() const { return m_haltReason; }

signals:
    void finished(int exitCode);

private:
    // A device goes through these in order, once per flash: an unconfirmed
    // flash sends it round once more.
    enum class Stage { Queued, Waiting, Uploading, Flashing, Verifying, Done };
    struct Device;

    void setStage(Device *device, Stage stage);
    void pump();
    void startFlashIfIdle();
    void launchBatch();
    void flashDone(Device *device, const FlashBatch::Outcome &outcome);
    void recordFlash(const Device *device, const FlashBatch::Outcome &outcome);
    void verify(Device *device);
    void verified(Device *device, const QString &error);
    // Ends a device that was started, and stops the run when it failed as a
    // canary or beyond the budget.
    void finishDevice(Device *device, FleetResult result, const QString &error, const QString &note = QString());
    // Ends a device in the report and on the screen, nothing more.
    void conclude(Device *device, FleetResult result, const QString &error, const QString &note = QString());
    // No device that has not started yet will start.
    void halt(const QString &reason);
    int inFlight() const;
    bool canariesPending() const;
    void finishIfIdle();
    int exitCode() const;
    Device *deviceAt(const QString &address);

    FleetOptions m_options;
    ProbeEngine *m_engine;
    QTemporaryDir m_stagingFolder;
    ImageCatalog m_images;
    FlashedImages m_history;
    QString m_historyPath;
    QString m_flasher;
    std::vector<std::unique_ptr<Device>> m_devices;
    QVector<Device *> m_queue;
    // One eflash.exe at a time, as it holds UDP ports 67 and 69; each run
    // gets every device waiting when it starts.
    QVector<Device *> m_waiting;
    // The next flasher run's devices, while their update codes go out.
    QVector<Device *> m_preparing;
    int m_uploadsPending = 0;
    FlashBatch *m_batch = nullptr;
    ProgressView *m_view = nullptr;
    QVector<FleetReport::Entry> m_entries;
    int m_failureBudget = 0;
    int m_failures = 0;
    QString m_haltReason;
    bool m_interrupted = false;
    bool m_finished = false;
};
