#pragma once

#include "devicefinding.h"

#include <QObject>
#include <QVector>

#include <memory>
#include <vector>

class Arp;
class DeviceConversation;
class PasswordBook;
class ProbeEngine;

// Finds the Velquor devices among many addresses, a bounded number at a
// time. Each address is first asked for its index page alone; only where
// that shows a Velquor title does the full probe, with the password, follow,
// together with an ARP lookup of its MAC address.
class DeviceScanner : public QObject
{
    Q_OBJECT

public:
    DeviceScanner(ProbeEngine *engine, const PasswordBook *passwords, const QString &arpTool,
                  int inFlightLimit, QObject *parent = nullptr);
    ~DeviceScanner() override;

    void start(const QVector<quint32> &addresses);
    // Starts no further address; those in flight end within their windows.
    void stop();

    // Sorted by address.
    QVector<DeviceFinding> findings() const;
    int otherServers() const { return m_otherServers; }
    int silent() const { return m_silent; }
    int addressesDone() const { return m_done; }

signals:
    void addressDone(int done, int total);
    void finished();

private:
    struct Job;

    void launchMore();
    void launch(quint32 address);
    void indexChecked(Job *job, int status, bool velquor);
    void lookUpMac(Job *job);
    void finishIfComplete(Job *job);
    void endJob(Job *job);
    void finishOnce();

    ProbeEngine *m_engine;
    const PasswordBook *m_passwords;
    QString m_arpTool;
    int m_inFlightLimit;
    QVector<quint32> m_addresses;
    int m_next = 0;
    int m_done = 0;
    int m_otherServers = 0;
    int m_silent = 0;
    bool m_stopping = false;
    bool m_finished = false;
    std::vector<std::unique_ptr<Job>> m_jobs;
    // Conversations whose last address refused the connection: nothing of
    // theirs is open or pending, and a new worker costs more than the check.
    std::vector<std::unique_ptr<DeviceConversation>> m_idle;
    QVector<DeviceFinding> m_findings;
};
