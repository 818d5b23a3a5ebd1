#pragma once

#include "devicefinding.h"

#include <QObject>
#include <QVector>

#include <memory>
#include <vector>

class Arp;
class DeviceConversation;
class HostSweep;
class LinkSweep;
class PasswordBook;
class ProbeEngine;

// Finds the Velquor devices among many addresses in two stages. First the
// addresses on the local segment are asked with ARP (where raw ARP is
// permitted), and each host that answered is asked for port 80 by a bare
// SYN; the rest, and any host the ARP sweep could not tell about, get a TCP
// connect to port 80, many at once: that finds the hosts with a web server;
// each such host is then asked, a bounded number at a time, for its index
// page alone, and only where that shows a Velquor title does the full probe,
// with the password, follow, together with an ARP lookup of its MAC address.
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

    void linkSwept();
    void hostFound(quint32 address);
    void hostMissing();
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
    std::unique_ptr<LinkSweep> m_linkSweep;
    std::unique_ptr<HostSweep> m_sweep;
    QVector<quint32> m_targets;
    bool m_sweepDone = false;
    int m_total = 0;
    // The hosts the sweep found, probed in the order found.
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
