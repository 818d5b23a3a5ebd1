#pragma once

#include "bootloadersim.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class RequestLog;

// The simulated device's Ethernet boot loader: one session after another,
// for as long as the device runs, as a real device re-enters its boot loader
// for every update. Each session's outcome goes to the log as a "flash"
// event, and a received image to a file if one is named.
class BootLoaderHost : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        // Empty: the hardware address of the interface holding the device's
        // address, which is what an ARP lookup of that address reports.
        QString mac;
        QString imageFile;
        int dropDataEvery = 0;
        int errorAtBlock = 0;
        int blockWriteMs = 0;
        // The first this many flashes end without the last block's
        // acknowledgement, keeping the old image.
        int dropFinalAckFlashes = 0;
        LinkImpairment::Settings link;
    };

    BootLoaderHost(const QHostAddress &address, Settings settings, RequestLog *log);
    ~BootLoaderHost() override;

    // Checks that the boot loader's UDP ports can be had, then starts the
    // first session. False, with errorString() set, when they cannot.
    bool start();
    QString errorString() const { return m_error; }
    QString mac() const { return m_macText; }
    // The MAC address a boot loader at `address` answers to unless told
    // otherwise, which is what an ARP lookup of that address reports.
    static QString defaultMac(const QHostAddress &address);

signals:
    // A magic packet has started the boot loader: the firmware is gone.
    void entered();
    // The session that entered() began has ended, however it went.
    void left();

private:
    void startSession();
    void sessionEnded(const BootLoaderSim::Result &result);
    bool writeImage(const std::vector<std::uint8_t> &image);

    QHostAddress m_address;
    Settings m_settings;
    RequestLog *m_log;
    QString m_macText;
    QString m_error;
    BootLoaderSim::Settings m_sessionSettings;
    int m_flashes = 0;
    std::unique_ptr<BootLoaderSim> m_simulator;
};
