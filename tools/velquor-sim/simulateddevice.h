#pragma once

#include "bootloaderhost.h"
#include "controlinput.h"
#include "requestlog.h"
#include "simoptions.h"
#include "webinterface.h"

#include <QObject>
#include <QTimer>

// One simulated device as a whole: its web interface, its boot loader when
// asked for, the log, and the commands on standard input. While the boot
// loader runs, and for the reboot time after it, the web interface is gone,
// as it is on a real device.
class SimulatedDevice : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedDevice(const SimOptions &options);

    // Runs until "quit" (or the end of input with --quit-on-eof); the exit code.
    int run();

private:
    void enterBootLoader();
    void leaveBootLoader();
    void comeBackOnline();

    SimOptions m_options;
    RequestLog m_log;
    WebInterface m_web;
    BootLoaderHost m_bootLoader;
    ControlInput m_control;
    QTimer m_reboot;
};
