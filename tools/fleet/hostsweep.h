#pragma once

#include "neighbourtable.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QVector>

#include <deque>
#include <memory>

// The scan's first stage: which addresses accept a TCP connection on port 80.
// Non-blocking connects, many at once, each given up after a short wait, so
// that an empty address costs that wait once, shared with hundreds of others,
// instead of holding a full probe. A connection is closed as soon as it is
// made; nothing is sent on it.
//
// Connects to the local link are held back while the kernel's neighbour
// table is near its limit, and one that failed for want of an entry or a
// buffer is tried again later rather than called empty.
class HostSweep : public QObject
{
    Q_OBJECT

public:
    HostSweep(int inFlightLimit, int waitMs, quint16 port = 80, QObject *parent = nullptr);
    ~HostSweep() override;

    void start(const QVector<quint32> &addresses);
    // Starts no further connect; those in flight are dropped at once.
    void stop();

signals:
    // `address` accepted a connection: a host with a web server.
    void addressAccepted(quint32 address);
    // `address` did not accept (refused, unreachable or silent).
    void addressRefused(quint32 address);
    void finished();

private:
    struct Target
    {
        quint32 address = 0;
        int tries = 0;
    };
    struct Attempt
    {
        int socket = -1;
        Target target;
        qint64 started = 0;
        qint64 deadline = 0;
    };

    void launchMore();
    void takeEvents();
    void expire();
    void readTable();
    // Back in the queue, untried; false once it has had its tries.
    bool tryAgainLater(const Target &target);
    // The attempt failed for want of a table entry or a buffer: it goes
    // back in the queue, or to the probe unswept once out of tries.
    void notYetTried(std::deque<Attempt>::iterator at);
    void end(int socket, bool accepted);
    void finishIfDone();

    int m_inFlightLimit;
    int m_waitMs;
    quint16 m_port;
    int m_epoll = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_clock;
    std::deque<Target> m_waiting;
    // In start order, so the oldest deadline is always at the front.
    std::deque<Attempt> m_inFlight;
    NeighbourTable m_table;
    // New entries the table takes before it is read again.
    int m_tableRoom = 0;
    qint64 m_tableFullAt = -1;
    qint64 m_roomLackingSince = -1;
    bool m_stopping = false;
    bool m_finished = false;
};
