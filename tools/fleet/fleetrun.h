#pragma once

#include "fleetoptions.h"
#include "fleetreport.h"
#include "passwordbook.h"

#include <QElapsedTimer>
#include <QObject>

class DeviceScanner;
class FleetUpdate;
class ProbeEngine;

// One run of the program: the scan, then for update the matching, the
// confirmation and the updates, then the report and the exit status.
class FleetRun : public QObject
{
    Q_OBJECT

public:
    explicit FleetRun(const FleetOptions &options, QObject *parent = nullptr);
    ~FleetRun() override;

    // Checks the targets, passwords and images and starts the scan; returns
    // an exit status (2) when it cannot start, or -1 when running.
    int start();

signals:
    void done(int exitCode);

private:
    void interrupt();
    void scanFinished();
    void listFindings();
    void finish(int exitCode);
    // Devices the scan found, as they stand when no update follows.
    void addScanEntries(FleetResult result, const QString &error);

    FleetOptions m_options;
    PasswordBook m_passwords;
    FleetReport m_report;
    QElapsedTimer m_clock;
    QElapsedTimer m_progressClock;
    ProbeEngine *m_engine = nullptr;
    DeviceScanner *m_scanner = nullptr;
    FleetUpdate *m_update = nullptr;
    int m_addressCount = 0;
    bool m_interrupted = false;
};
